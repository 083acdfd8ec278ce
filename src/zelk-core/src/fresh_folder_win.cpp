#include <windows.h>

#include "fresh_folder.h"
#include "runner.h"

namespace zelk {

namespace fs = std::filesystem;

namespace {

bool taken(DWORD error) { return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS; }

std::unexpected<FreshError> failed(DWORD error) {
  return std::unexpected(FreshError{os_error_text(static_cast<int>(error)), taken(error)});
}

}  // namespace

std::expected<void, FreshError> make_fresh_folder(const fs::path& folder) {
  // Inside the user's profile a new folder gets the profile's rights: the user's alone.
  if (!CreateDirectoryW(folder.c_str(), nullptr)) return failed(GetLastError());
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return failed(GetLastError());
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return failed(ERROR_ACCESS_DENIED);
  }
  return {};
}

std::expected<void, std::string> sync_file(const fs::path& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::unexpected(os_error_text(static_cast<int>(GetLastError())));
  const DWORD error = FlushFileBuffers(file) ? ERROR_SUCCESS : GetLastError();
  CloseHandle(file);
  if (error != ERROR_SUCCESS) return std::unexpected(os_error_text(static_cast<int>(error)));
  return {};
}

std::expected<void, std::string> sync_folder(const fs::path&) {
  // NTFS records a folder's entries in its journal; there is nothing to flush for them.
  return {};
}

std::expected<void, FreshError> rename_fresh_folder(const fs::path& from, const fs::path& to) {
  // Without MOVEFILE_REPLACE_EXISTING an entry of the new name makes the move fail.
  if (!MoveFileExW(from.c_str(), to.c_str(), 0)) return failed(GetLastError());
  return {};
}

}  // namespace zelk
