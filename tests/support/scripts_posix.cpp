#include "scripts_posix.h"

#include <signal.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>

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

bool process_alive(pid_t pid) {
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  // A process that has ended and is not reaped yet (a zombie) still takes signals: its state,
  // after the name in parentheses, says it is gone.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string line((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t name_end = line.rfind(')');
  if (name_end == std::string::npos || name_end + 2 >= line.size()) return true;
  return line[name_end + 2] != 'Z' && line[name_end + 2] != 'X';
}

}  // namespace zelk
