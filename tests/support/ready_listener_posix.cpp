#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ready_listener.h"

namespace zelk {

struct ReadyListener::Native {
  int listener = -1;
};

ReadyListener::ReadyListener() : native_(std::make_unique<Native>()) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) std::abort();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::abort();
  }
  port_ = ntohs(address.sin_port);
  native_->listener = fd;
  thread_ = std::thread([this] { serve(); });
}

ReadyListener::~ReadyListener() {
  ::shutdown(native_->listener, SHUT_RDWR);  // ends the accept below
  if (thread_.joinable()) thread_.join();
  ::close(native_->listener);
}

void ReadyListener::serve() {
  while (true) {
    const int connection = ::accept4(native_->listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
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
