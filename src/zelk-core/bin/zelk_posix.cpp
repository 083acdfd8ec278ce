#include <pwd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "zelk/console.h"

namespace {

void ignore_signal(int) {}

// A closed output ("zelk list | head -1") must not end the program part-way, a start before its
// running marker: writes to it fail and are ignored. A handler that does nothing, rather than
// SIG_IGN, because an ignored SIGPIPE would be inherited by every program zelk starts, and
// those expect the default.
void ignore_closed_output() {
  struct sigaction action {};
  action.sa_handler = ignore_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGPIPE, &action, nullptr);
}

}  // namespace

// The statically linked program has no way to look users up (glibc would need its shared
// libraries for it); libgpg-error's home-folder helper, never called by zelk, is the only one
// that asks. It learns that no such user exists.
extern "C" {
struct passwd* __wrap_getpwnam(const char*) {
  errno = ENOENT;
  return nullptr;
}
struct passwd* __wrap_getpwuid(uid_t) {
  errno = ENOENT;
  return nullptr;
}
}

int main(int argc, char** argv) {
  ignore_closed_output();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return zelk::console_main(args);
}
