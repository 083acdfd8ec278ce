#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "tcp_listener.h"

namespace zelk {

struct TcpListener::Native {
  int listener = -1;
};

namespace {

int bound_socket(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) std::abort();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) std::abort();
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) std::abort();
  port = ntohs(address.sin_port);
  return fd;
}

void send_bytes(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
}

}  // namespace

TcpListener::TcpListener(std::string answer, Mode mode)
    : answer_(std::move(answer)), mode_(mode), native_(std::make_unique<Native>()) {
  native_->listener = bound_socket(port_);
  if (::listen(native_->listener, 4) != 0) std::abort();
  thread_ = std::thread([this] { serve(); });
}

TcpListener::~TcpListener() {
  ::shutdown(native_->listener, SHUT_RDWR);  // wakes an accept that nothing will satisfy
  if (thread_.joinable()) thread_.join();
  ::close(native_->listener);
}

std::string TcpListener::request() {
  if (thread_.joinable()) thread_.join();
  return received_;
}

void TcpListener::serve() {
  const int connection = ::accept(native_->listener, nullptr, nullptr);
  if (connection < 0) return;
  const int no_delay = 1;
  ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &no_delay, sizeof no_delay);
  // A client that stops reading must not hold this thread in a send for ever.
  timeval send_timeout{};
  send_timeout.tv_sec = 2;
  ::setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);
  char buffer[512];
  while (received_.find("\r\n\r\n") == std::string::npos) {
    const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    received_.append(buffer, static_cast<std::size_t>(got));
  }
  switch (mode_) {
    case Mode::Answer:
      send_bytes(connection, answer_.data(), answer_.size());
      break;
    case Mode::Trickle:
      for (char c : answer_) {
        send_bytes(connection, &c, 1);
        std::this_thread::yield();
      }
      break;
    case Mode::Silent:
      while (true) {
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
      }
      break;
  }
  ::close(connection);
}

std::uint16_t unused_port() {
  std::uint16_t port = 0;
  ::close(bound_socket(port));
  return port;
}

}  // namespace zelk
