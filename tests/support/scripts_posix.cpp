#include "scripts_posix.h"

#include <signal.h>

#include <cerrno>
#include <fstream>

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

bool process_alive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace zelk
