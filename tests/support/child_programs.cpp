#include "child_programs.h"

#include <algorithm>

#include "platform.h"

namespace zelk {

std::string native_build_path(std::string_view unix_path) {
  std::string path(unix_path);
  if (platform_word != "windows") return path;
  if (!path.empty() && path.front() == '/') path = "Z:" + path;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string helper_folder() { return native_build_path(ZELK_HELPER_DIR); }

std::string helper_program(std::string_view name) {
  std::string path = helper_folder() + (platform_word == "windows" ? "\\" : "/") + std::string(name);
  if (platform_word == "windows") path += ".exe";
  return path;
}

std::string zelk_program() { return native_build_path(ZELK_BINARY); }

}  // namespace zelk
