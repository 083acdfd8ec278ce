#include <winsock2.h>
#include <ws2tcpip.h>

#include "http.h"
#include "winsock_win.h"

namespace zelk {

namespace {

constexpr long connect_wait_seconds = 2;
constexpr DWORD exchange_timeout_ms = 3000;

/// Closes the socket when the exchange ends, whichever way it ends.
class Socket {
 public:
  explicit Socket(SOCKET handle) : handle_(handle) {}
  ~Socket() {
    if (handle_ != INVALID_SOCKET) ::closesocket(handle_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  SOCKET handle() const { return handle_; }

 private:
  SOCKET handle_;
};

bool connect_within_limit(SOCKET handle, std::uint16_t port) {
  u_long non_blocking = 1;
  if (::ioctlsocket(handle, FIONBIO, &non_blocking) != 0) return false;

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (::WSAGetLastError() != WSAEWOULDBLOCK) return false;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(handle, &writable);
    FD_SET(handle, &failed);
    timeval wait{connect_wait_seconds, 0};
    if (::select(0, nullptr, &writable, &failed, &wait) <= 0) return false;
    if (FD_ISSET(handle, &failed) || !FD_ISSET(handle, &writable)) return false;
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 ||
        error != 0) {
      return false;
    }
  }
  u_long blocking = 0;
  return ::ioctlsocket(handle, FIONBIO, &blocking) == 0;
}

bool set_timeouts(SOCKET handle) {
  const DWORD timeout = exchange_timeout_ms;
  const char* value = reinterpret_cast<const char*>(&timeout);
  return ::setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, value, sizeof timeout) == 0 &&
         ::setsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, value, sizeof timeout) == 0;
}

bool send_all(SOCKET handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const int sent = ::send(handle, bytes.data(), static_cast<int>(bytes.size()), 0);
    if (sent == SOCKET_ERROR && ::WSAGetLastError() == WSAEINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

}  // namespace

std::optional<std::string> probe_exchange(std::uint16_t port, std::string_view request, std::size_t want) {
  if (!winsock_started()) return std::nullopt;
  const Socket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (socket.handle() == INVALID_SOCKET) return std::nullopt;
  if (!connect_within_limit(socket.handle(), port) || !set_timeouts(socket.handle())) return std::nullopt;
  if (!send_all(socket.handle(), request)) return std::nullopt;

  std::string answer(want, '\0');
  std::size_t filled = 0;
  while (filled < want) {
    const int got = ::recv(socket.handle(), answer.data() + filled, static_cast<int>(want - filled), 0);
    if (got == SOCKET_ERROR && ::WSAGetLastError() == WSAEINTR) continue;
    if (got <= 0) break;  // the end of the stream, or a failure such as the time-out
    filled += static_cast<std::size_t>(got);
  }
  answer.resize(filled);
  return answer;
}

}  // namespace zelk
