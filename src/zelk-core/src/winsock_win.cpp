#include "winsock_win.h"

#include <winsock2.h>

#include <mutex>

namespace zelk {

bool winsock_started() {
  static std::once_flag once;
  static bool started = false;
  std::call_once(once, [] {
    WSADATA data;
    started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return started;
}

}  // namespace zelk
