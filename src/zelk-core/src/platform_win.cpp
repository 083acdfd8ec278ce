#include <windows.h>

#include "platform.h"
#include "runner.h"
#include "wide_win.h"

namespace zelk {

const std::string_view platform_word = "windows";

std::optional<std::string> get_env(std::string_view name) {
  std::wstring wide_name = to_wide(name);
  DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
  if (size == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  std::wstring value(size, L'\0');
  DWORD written = GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
  value.resize(written);
  return from_wide_lossy(value);
}

std::optional<std::filesystem::path> data_folder() {
  if (auto home = get_env("ZELK_HOME"); home && !home->empty()) return path_from_utf8(*home);
  if (auto user = get_env("USERPROFILE"); user && !user->empty()) {
    return path_from_utf8(*user) / ".torvo";
  }
  return std::nullopt;
}

std::string find_program(std::string_view name) { return std::string(name); }

std::expected<void, std::string> fill_random(std::span<std::uint8_t>) {
  return std::unexpected("The operating system gave no random data.");
}

std::expected<void, std::string> open_in_browser(const std::string&) {
  return std::unexpected(std::string("not built yet"));
}

}  // namespace zelk
