// A process that holds an app's lock, for the tests of one command at a time across processes.
//   lock_holder HOME ID HELD END   takes the lock of app ID in the data folder HOME (exit code 3
//                                  when another holds it), writes the file HELD, then waits for
//                                  the file END (ten minutes at most) and ends killed, without
//                                  letting go of anything itself.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

#include "app_lock.h"
#include "files.h"
#include "platform.h"

#ifdef _WIN32
#include <windows.h>

#include "wide_win.h"
#endif

namespace {

int hold(const std::filesystem::path& home, const std::string& id, const std::filesystem::path& held,
         const std::filesystem::path& end) {
  auto lock = zelk::try_lock_app(home, id);
  if (!lock) return 2;
  if (!*lock) return 3;
  if (!zelk::write_file_atomically(held, "held\n")) return 2;
  for (int wait = 0; wait < 30000 && !std::filesystem::exists(end); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
#ifdef _WIN32
  TerminateProcess(GetCurrentProcess(), 9);
#else
  std::raise(SIGKILL);
#endif
  return 1;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  if (argc != 5) return 2;
  std::string id = zelk::from_wide_lossy(argv[2]);
  return hold(argv[1], id, argv[3], argv[4]);
}
#else
int main(int argc, char** argv) {
  if (argc != 5) return 2;
  return hold(argv[1], argv[2], argv[3], argv[4]);
}
#endif
