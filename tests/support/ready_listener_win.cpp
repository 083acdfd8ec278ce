#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <cstring>

#include "ready_listener.h"

namespace zelk {

struct ReadyListener::Native {
  SOCKET listener = INVALID_SOCKET;
};

ReadyListener::ReadyListener() : native_(std::make_unique<Native>()) {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) std::abort();
  const SOCKET handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) std::abort();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(handle, 16) != 0 ||
      ::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::abort();
  }
  port_ = ntohs(address.sin_port);
  native_->listener = handle;
  thread_ = std::thread([this] { serve(); });
}

ReadyListener::~ReadyListener() {
  ::closesocket(native_->listener);  // ends the accept below
  if (thread_.joinable()) thread_.join();
}

void ReadyListener::serve() {
  while (true) {
    const SOCKET connection = ::accept(native_->listener, nullptr, nullptr);
    if (connection == INVALID_SOCKET) return;
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
