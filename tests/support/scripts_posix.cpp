#include "scripts_posix.h"

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace zelk {

std::string write_script(const std::filesystem::path& folder, std::string_view name,
                         std::string_view body) {
  const std::filesystem::path path = folder / std::string(name);
  {
    std::ofstream file(path, std::ios::binary);
    file << "#!/bin/sh\n" << body << "\n";
  }
  std::filesystem::permissions(path, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                         std::filesystem::perms::group_exec);
  return path.string();
}

std::string read_text(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string wait_for_text(const std::filesystem::path& path) {
  for (int tries = 0; tries < 1000; ++tries) {
    std::string text = read_text(path);
    if (!text.empty()) return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return {};
}

bool process_alive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace zelk
