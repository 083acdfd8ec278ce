#include <winsock2.h>
#include <ws2tcpip.h>

#include "port_check.h"
#include "winsock_win.h"

namespace zelk {

bool port_is_free(std::uint16_t port) {
  if (!winsock_started()) return false;
  const SOCKET handle = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) return false;
  // Exclusive, so that a program that shares its port does not let this bind through.
  BOOL on = TRUE;
  (void)::setsockopt(handle, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(port);
  address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  const bool bound = ::bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::closesocket(handle);
  return bound;
}

}  // namespace zelk
