#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "ready_listener.h"

namespace zelk {

namespace {

constexpr long look_ms = 5;  // how often the listener looks for a connection and at its condition

/// A socket listening on 127.0.0.1 at the port (0: one the system picks), or INVALID_SOCKET.
SOCKET listen_at(std::uint16_t port) {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) std::abort();
  const SOCKET handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) return INVALID_SOCKET;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(handle, 16) != 0) {
    ::closesocket(handle);
    return INVALID_SOCKET;
  }
  return handle;
}

std::uint16_t port_of(SOCKET handle) {
  sockaddr_in address{};
  int length = sizeof address;
  if (::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) std::abort();
  return ntohs(address.sin_port);
}

}  // namespace

struct ReadyListener::Native {
  SOCKET listener = INVALID_SOCKET;
};

ReadyListener::ReadyListener() : native_(std::make_unique<Native>()) {
  native_->listener = listen_at(0);
  if (native_->listener == INVALID_SOCKET) std::abort();
  port_ = port_of(native_->listener);
  thread_ = std::thread([this] { serve(); });
}

ReadyListener::ReadyListener(std::function<bool()> holds_port)
    : holds_port_(std::move(holds_port)), native_(std::make_unique<Native>()) {
  const SOCKET picked = listen_at(0);
  if (picked == INVALID_SOCKET) std::abort();
  port_ = port_of(picked);
  ::closesocket(picked);
  thread_ = std::thread([this] { serve(); });
}

ReadyListener::~ReadyListener() {
  ending_ = true;
  if (thread_.joinable()) thread_.join();
  if (native_->listener != INVALID_SOCKET) ::closesocket(native_->listener);
}

void ReadyListener::serve() {
  while (!ending_) {
    if (holds_port_) {
      const bool holds = holds_port_();
      if (holds && native_->listener == INVALID_SOCKET) native_->listener = listen_at(port_);
      if (!holds && native_->listener != INVALID_SOCKET) {
        ::closesocket(native_->listener);
        native_->listener = INVALID_SOCKET;
      }
    }
    if (native_->listener == INVALID_SOCKET) {
      std::this_thread::sleep_for(std::chrono::milliseconds(look_ms));
      continue;
    }
    fd_set waiting;
    FD_ZERO(&waiting);
    FD_SET(native_->listener, &waiting);
    timeval pause{0, look_ms * 1000};
    if (::select(0, &waiting, nullptr, nullptr, &pause) <= 0) continue;
    const SOCKET connection = ::accept(native_->listener, nullptr, nullptr);
    if (connection == INVALID_SOCKET) continue;
    // A client that stops sending or reading must not hold the listener.
    const DWORD limit_ms = 2000;
    ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit_ms), sizeof limit_ms);
    ::setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit_ms), sizeof limit_ms);
    std::string request;
    char buffer[512];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const int got = ::recv(connection, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      request.append(buffer, static_cast<std::size_t>(got));
    }
    // Kept before the answer goes out: a client that has its answer finds the request here.
    answered(std::move(request));
    (void)::send(connection, ready_answer, static_cast<int>(std::strlen(ready_answer)), 0);
    ::shutdown(connection, SD_SEND);
    ::closesocket(connection);
  }
}

}  // namespace zelk
