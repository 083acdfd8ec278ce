#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "ready_listener.h"

namespace zelk {

namespace {

constexpr int look_ms = 5;  // how often the listener looks for a connection and at its condition

/// A socket listening on 127.0.0.1 at the port (0: one the system picks), or -1.
int listen_at(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  (void)::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::uint16_t port_of(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) std::abort();
  return ntohs(address.sin_port);
}

}  // namespace

struct ReadyListener::Native {
  int listener = -1;
};

ReadyListener::ReadyListener() : native_(std::make_unique<Native>()) {
  native_->listener = listen_at(0);
  if (native_->listener < 0) std::abort();
  port_ = port_of(native_->listener);
  thread_ = std::thread([this] { serve(); });
}

ReadyListener::ReadyListener(std::function<bool()> holds_port)
    : holds_port_(std::move(holds_port)), native_(std::make_unique<Native>()) {
  const int picked = listen_at(0);
  if (picked < 0) std::abort();
  port_ = port_of(picked);
  ::close(picked);
  thread_ = std::thread([this] { serve(); });
}

ReadyListener::~ReadyListener() {
  ending_ = true;
  if (thread_.joinable()) thread_.join();
  if (native_->listener >= 0) ::close(native_->listener);
}

void ReadyListener::serve() {
  while (!ending_) {
    if (holds_port_) {
      const bool holds = holds_port_();
      if (holds && native_->listener < 0) native_->listener = listen_at(port_);
      if (!holds && native_->listener >= 0) {
        ::close(native_->listener);
        native_->listener = -1;
      }
    }
    if (native_->listener < 0) {
      ::poll(nullptr, 0, look_ms);
      continue;
    }
    pollfd waiting{native_->listener, POLLIN, 0};
    if (::poll(&waiting, 1, look_ms) <= 0) continue;
    const int connection = ::accept4(native_->listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    // A client that stops sending or reading must not hold the listener.
    const timeval limit{2, 0};
    ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    std::string request;
    char buffer[512];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      request.append(buffer, static_cast<std::size_t>(got));
    }
    // Kept before the answer goes out: a client that has its answer finds the request here.
    answered(std::move(request));
    (void)::send(connection, ready_answer, std::strlen(ready_answer), MSG_NOSIGNAL);
    ::shutdown(connection, SHUT_WR);
    ::close(connection);
  }
}

}  // namespace zelk
