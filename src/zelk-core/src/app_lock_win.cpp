#include <windows.h>

#include "app_lock_file.h"
#include "runner.h"

namespace zelk::app_lock_file {

namespace {

HANDLE as_handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

HANDLE open_file(const std::filesystem::path& path, DWORD access, DWORD disposition) {
  // No security attributes: the handle is not inherited, so a program the command starts,
  // left running, does not keep the app locked. Others may open the file (only the lock counts).
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::expected<std::optional<LockFile>, std::string> LockFile::open(const std::filesystem::path& path) {
  HANDLE file = open_file(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // A lock file made earlier locks with the right to read alone, in a folder that became
    // read-only.
    file = open_file(path, GENERIC_READ, OPEN_EXISTING);
    const DWORD again = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (again == ERROR_FILE_NOT_FOUND || again == ERROR_PATH_NOT_FOUND) return std::nullopt;
    if (file == INVALID_HANDLE_VALUE) return std::unexpected(os_error_text(static_cast<int>(error)));
  }
  return LockFile(reinterpret_cast<std::intptr_t>(file));
}

std::expected<bool, std::string> LockFile::try_take() {
  OVERLAPPED start{};
  if (LockFileEx(as_handle(handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &start)) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return false;
  return std::unexpected(os_error_text(static_cast<int>(error)));
}

void LockFile::close() {
  if (handle_ != -1) CloseHandle(as_handle(handle_));
  handle_ = -1;
}

}  // namespace zelk::app_lock_file
