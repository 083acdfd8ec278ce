#include <windows.h>

#include <algorithm>

#include "platform.h"
#include "process_win.h"
#include "runner.h"
#include "wide_win.h"

namespace zelk {

const std::string_view platform_word = "windows";

namespace {

std::optional<std::wstring> wide_env(const std::wstring& name) {
  SetLastError(ERROR_SUCCESS);
  const DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (size == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::wstring();
  }
  std::wstring value(size, L'\0');
  const DWORD written = GetEnvironmentVariableW(name.c_str(), value.data(), size);
  value.resize(written < size ? written : 0);
  return value;
}

}  // namespace

std::filesystem::path path_from_utf8(std::string_view text) { return std::filesystem::path(to_wide(text)); }

// The standard library's own conversions throw on a lone surrogate; these never do.
std::string path_to_utf8(const std::filesystem::path& path) { return from_wide_lossy(path.native()); }

std::optional<std::string> path_to_utf8_exact(const std::filesystem::path& path) { return from_wide(path.native()); }

std::optional<std::string> get_env(std::string_view name) {
  std::optional<std::wstring> value = wide_env(to_wide(name));
  if (!value) return std::nullopt;
  return from_wide_lossy(*value);
}

std::optional<std::filesystem::path> env_path(std::string_view name) {
  std::optional<std::wstring> value = wide_env(to_wide(name));
  if (!value) return std::nullopt;
  return std::filesystem::path(std::move(*value));
}

std::optional<std::string> get_unicode_env(std::string_view name) {
  std::optional<std::wstring> value = wide_env(to_wide(name));
  if (!value) return std::nullopt;
  return from_wide(*value);
}

std::optional<std::filesystem::path> data_folder() {
  // Values go into the path as the system gives them, in UTF-16, valid Unicode or not.
  if (auto home = wide_env(L"ZELK_HOME"); home && !home->empty()) return std::filesystem::path(*home);
  if (auto user = wide_env(L"USERPROFILE"); user && !user->empty()) {
    return std::filesystem::path(*user) / L".torvo";
  }
  return std::nullopt;
}

std::string find_program(std::string_view name) {
  const std::wstring file = to_wide(name) + L".exe";
  // A program on PATH is started by its bare name; the start finds it there itself.
  if (std::optional<std::wstring> path = wide_env(L"PATH")) {
    for (const std::wstring& folder : win::split_path_list(*path)) {
      if (win::is_file(win::join_path(folder, file))) return std::string(name);
    }
  }
  if (name.find_first_of("/\\") != std::string_view::npos) return std::string(name);
  // Podman's installer puts it here without always reaching PATH of running programs.
  if (std::optional<std::wstring> program_files = wide_env(L"ProgramFiles")) {
    const std::wstring candidate =
        win::join_path(win::join_path(win::join_path(*program_files, L"RedHat"), L"Podman"), file);
    if (win::is_file(candidate)) return from_wide_lossy(candidate);
  }
  return std::string(name);
}

std::expected<void, std::string> fill_random(std::span<std::uint8_t> buffer) {
  using GenerateRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
  static const GenerateRandom generate = []() -> GenerateRandom {
    HMODULE advapi = LoadLibraryW(L"advapi32.dll");
    if (advapi == nullptr) return nullptr;
    return reinterpret_cast<GenerateRandom>(
        reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036")));
  }();
  constexpr std::size_t largest_piece = 0xFFFFFFFFu;
  std::size_t filled = 0;
  while (filled < buffer.size()) {
    const std::size_t piece = std::min(buffer.size() - filled, largest_piece);
    if (generate == nullptr || !generate(buffer.data() + filled, static_cast<ULONG>(piece))) {
      return std::unexpected(std::string("The operating system gave no random data."));
    }
    filled += piece;
  }
  return {};
}

std::expected<void, std::string> open_in_browser(const std::string& address) {
  const std::string program = "rundll32";
  std::optional<std::wstring> application = win::locate_program(to_wide(program));
  if (!application) return std::unexpected(os_error_text(ERROR_FILE_NOT_FOUND));
  const win::Handle null_device = win::open_null_device();
  if (!null_device) return std::unexpected(os_error_text(static_cast<int>(GetLastError())));
  auto process = win::start_process({
      .application = *application,
      .command_line = to_wide(windows_command_line(program, {"url.dll,FileProtocolHandler", address})),
      .std_input = null_device.get(),
      .std_output = null_device.get(),
      .std_error = null_device.get(),
      .creation_flags = 0,
      .environment = std::nullopt,
  });
  if (!process) return std::unexpected(os_error_text(static_cast<int>(process.error())));
  // Not waited for: the handle is released here and the browser goes on by itself.
  return {};
}

}  // namespace zelk
