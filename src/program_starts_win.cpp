#include "program_starts_win.h"

#include <vector>

#include "process_win.h"
#include "runner.h"

namespace zelk {

namespace {

std::string last_error_text() { return os_error_text(static_cast<int>(GetLastError())); }

}  // namespace

std::expected<void, std::string> start_in_new_console(const std::wstring& application,
                                                      const std::wstring& command_line,
                                                      const std::optional<std::string>& path) {
  // The core's process start always hands the child standard handles; a console window of
  // its own needs the child to take the new console's instead, so this start is its own.
  STARTUPINFOW info{};
  info.cb = sizeof info;
  std::wstring line = command_line;  // the call may write into it
  std::optional<std::wstring> environment;
  DWORD flags = CREATE_NEW_CONSOLE;
  if (path) {
    environment = win::environment_block({{"PATH", *path}});
    flags |= CREATE_UNICODE_ENVIRONMENT;
  }
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE, flags,
                      environment ? environment->data() : nullptr, nullptr, &info, &process)) {
    return std::unexpected(last_error_text());
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return {};
}

std::expected<void, std::string> start_with_null_streams(const std::filesystem::path& program) {
  const win::Handle null_device = win::open_null_device();
  if (!null_device) return std::unexpected(last_error_text());
  auto process = win::start_process({
      .application = program.wstring(),
      .command_line = L"\"" + program.wstring() + L"\"",
      .std_input = null_device.get(),
      .std_output = null_device.get(),
      .std_error = null_device.get(),
      .creation_flags = DETACHED_PROCESS,
      .environment = std::nullopt,
  });
  if (!process) return std::unexpected(os_error_text(static_cast<int>(process.error())));
  return {};
}

std::expected<std::filesystem::path, std::string> folder_of_running_program() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::unexpected(last_error_text());
    if (length < buffer.size()) {
      return std::filesystem::path(std::wstring(buffer.data(), length)).parent_path();
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring system_command_interpreter() {
  std::vector<wchar_t> folder(MAX_PATH);
  UINT length = GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
  if (length >= folder.size()) {
    folder.resize(length + 1);
    length = GetSystemDirectoryW(folder.data(), static_cast<UINT>(folder.size()));
  }
  if (length == 0 || length >= folder.size()) return L"cmd.exe";
  return win::join_path(std::wstring_view(folder.data(), length), L"cmd.exe");
}

}  // namespace zelk
