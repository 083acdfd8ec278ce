#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pull.h"
#include "runner.h"

namespace zelk {

namespace {

// Podman's API on Linux and macOS: a stream socket at a path.
class UnixSocketStream final : public ApiStream {
 public:
  explicit UnixSocketStream(int fd) : fd_(fd) {}
  ~UnixSocketStream() override { ::close(fd_); }
  UnixSocketStream(const UnixSocketStream&) = delete;
  UnixSocketStream& operator=(const UnixSocketStream&) = delete;

  std::expected<void, std::string> write_all(std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EINTR) continue;
        return std::unexpected(os_error_text(errno));
      }
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return {};
  }

  std::expected<std::size_t, std::string> read_some(std::span<char> buffer) override {
    while (true) {
      const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno != EINTR) return std::unexpected(os_error_text(errno));
    }
  }

 private:
  int fd_;
};

}  // namespace

std::expected<std::unique_ptr<ApiStream>, std::string> open_api_stream(std::string_view endpoint) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (endpoint.empty() || endpoint.size() >= sizeof(address.sun_path)) {
    return std::unexpected("the socket path is empty or too long");
  }
  std::memcpy(address.sun_path, endpoint.data(), endpoint.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::unexpected(os_error_text(errno));
  int result = 0;
  do {
    result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  } while (result < 0 && errno == EINTR);
  if (result < 0) {
    const int error = errno;
    ::close(fd);
    return std::unexpected(os_error_text(error));
  }
  return std::make_unique<UnixSocketStream>(fd);
}

}  // namespace zelk
