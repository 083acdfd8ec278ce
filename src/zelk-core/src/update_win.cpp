#include <windows.h>

#include "platform.h"
#include "runner.h"
#include "update.h"
#include "wide_win.h"

namespace zelk {

const std::string_view update_platform_word = "windows-x64";

namespace {

// Owns one handle.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

Handle open_null_device(DWORD access) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return Handle(CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

std::expected<void, std::string> start_installer(const std::filesystem::path& path, bool tray,
                                                 std::uint32_t creation_flags) {
  Handle null_in = open_null_device(GENERIC_READ);
  Handle null_out = open_null_device(GENERIC_WRITE);
  if (!null_in.valid() || !null_out.valid()) return std::unexpected(os_error_text(static_cast<int>(GetLastError())));

  const std::wstring program = path.wstring();
  std::wstring command_line = to_wide(windows_command_line(path_to_utf8(path), installer_arguments(tray)));

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_in.get();
  startup.hStdOutput = null_out.get();
  startup.hStdError = null_out.get();
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, creation_flags,
                      nullptr, nullptr, &startup, &process)) {
    return std::unexpected(os_error_text(static_cast<int>(GetLastError())));
  }
  // Not waited for: the installer replaces this program while it runs.
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return {};
}

}  // namespace zelk
