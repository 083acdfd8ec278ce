#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

#include "http.h"

namespace zelk {

namespace {

constexpr int connect_wait_ms = 2000;
constexpr int exchange_timeout_seconds = 3;

/// Closes the socket when the exchange ends, whichever way it ends.
class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

bool connect_within_limit(int fd, std::uint16_t port) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return false;

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return false;
    pollfd wanted{fd, POLLOUT, 0};
    int ready = 0;
    do {
      ready = ::poll(&wanted, 1, connect_wait_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
  }
  return ::fcntl(fd, F_SETFL, flags) == 0;
}

bool set_timeouts(int fd) {
  timeval timeout{};
  timeout.tv_sec = exchange_timeout_seconds;
  return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0 &&
         ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) == 0;
}

bool send_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

}  // namespace

std::optional<std::string> probe_exchange(std::uint16_t port, std::string_view request, std::size_t want) {
  const Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (socket.fd() < 0) return std::nullopt;
  if (!connect_within_limit(socket.fd(), port) || !set_timeouts(socket.fd())) return std::nullopt;
  if (!send_all(socket.fd(), request)) return std::nullopt;

  std::string answer(want, '\0');
  std::size_t filled = 0;
  while (filled < want) {
    const ssize_t got = ::recv(socket.fd(), answer.data() + filled, want - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // the end of the stream, or a failure such as the time-out
    filled += static_cast<std::size_t>(got);
  }
  answer.resize(filled);
  return answer;
}

}  // namespace zelk
