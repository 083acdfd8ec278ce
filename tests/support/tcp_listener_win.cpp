#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>

#include "tcp_listener.h"

namespace zelk {

struct TcpListener::Native {
  SOCKET listener = INVALID_SOCKET;
};

namespace {

void start_winsock() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) std::abort();
}

SOCKET bound_socket(std::uint16_t& port) {
  start_winsock();
  const SOCKET handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) std::abort();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) std::abort();
  int length = sizeof address;
  if (::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length) != 0) std::abort();
  port = ntohs(address.sin_port);
  return handle;
}

void send_bytes(SOCKET handle, const char* data, std::size_t size) {
  while (size > 0) {
    const int sent = ::send(handle, data, static_cast<int>(size), 0);
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
  ::closesocket(native_->listener);  // wakes an accept that nothing will satisfy
  if (thread_.joinable()) thread_.join();
}

std::string TcpListener::request() {
  if (thread_.joinable()) thread_.join();
  return received_;
}

void TcpListener::serve() {
  const SOCKET connection = ::accept(native_->listener, nullptr, nullptr);
  if (connection == INVALID_SOCKET) return;
  const BOOL no_delay = TRUE;
  ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay), sizeof no_delay);
  // A client that stops reading must not hold this thread in a send for ever.
  const DWORD send_timeout_ms = 2000;
  ::setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send_timeout_ms),
               sizeof send_timeout_ms);
  char buffer[512];
  while (received_.find("\r\n\r\n") == std::string::npos) {
    const int got = ::recv(connection, buffer, sizeof buffer, 0);
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
      while (::recv(connection, buffer, sizeof buffer, 0) > 0) {
      }
      break;
  }
  ::shutdown(connection, SD_SEND);
  ::closesocket(connection);
}

std::uint16_t unused_port() {
  std::uint16_t port = 0;
  ::closesocket(bound_socket(port));
  return port;
}

}  // namespace zelk
