#include <windows.h>

#include <algorithm>

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

std::expected<void, FreshError> write_fresh_file(const fs::path& path, std::string_view bytes) {
  // CREATE_NEW fails on any entry at the path, a link included; no sharing until it is whole.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return failed(GetLastError());
  DWORD error = ERROR_SUCCESS;
  std::size_t written = 0;
  while (written < bytes.size()) {
    const std::size_t piece = std::min<std::size_t>(bytes.size() - written, 1u << 30);
    DWORD put = 0;
    if (!WriteFile(file, bytes.data() + written, static_cast<DWORD>(piece), &put, nullptr)) {
      error = GetLastError();
      break;
    }
    written += put;
  }
  if (error == ERROR_SUCCESS && !FlushFileBuffers(file)) error = GetLastError();
  if (!CloseHandle(file) && error == ERROR_SUCCESS) error = GetLastError();
  if (error != ERROR_SUCCESS) {
    DeleteFileW(path.c_str());
    return std::unexpected(FreshError{os_error_text(static_cast<int>(error)), false});
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
