#include <windows.h>

#include <algorithm>
#include <system_error>

#include "files_system.h"
#include "runner.h"

namespace zelk::files_system {

namespace fs = std::filesystem;

namespace {

constexpr int replace_attempts = 11;

// Another process that has the file open (the other Zelk program reading its settings, a
// virus scanner, an indexer) makes the rename fail for as long as it holds it: a moment.
// A folder at the target refuses with the same "access denied" for good.
bool held_by_another(DWORD error, const fs::path& to) {
  if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) return false;
  const DWORD attributes = GetFileAttributesW(to.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

std::expected<void, NewFileError> write_new_file(const fs::path& path, std::string_view bytes) {
  // No sharing: nobody else opens the file before it has its final name.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return std::unexpected(NewFileError{os_error_text(static_cast<int>(error)),
                                        error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS});
  }
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
  if (!CloseHandle(file) && error == ERROR_SUCCESS) error = GetLastError();
  if (error != ERROR_SUCCESS) {
    DeleteFileW(path.c_str());
    return std::unexpected(NewFileError{os_error_text(static_cast<int>(error)), false});
  }
  return {};
}

std::expected<void, std::string> replace_file(const fs::path& from, const fs::path& to) {
  // A few tries over about a second, each pause twice the one before: bounded, and only while
  // the system says the file is held, so a real refusal still fails at once.
  DWORD pause_ms = 1;
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return {};
    const DWORD error = GetLastError();
    if (!held_by_another(error, to) || attempt == replace_attempts) {
      return std::unexpected(os_error_text(static_cast<int>(error)));
    }
    Sleep(pause_ms);
    pause_ms *= 2;
  }
}

std::uint64_t process_id() { return GetCurrentProcessId(); }

std::expected<void, std::string> make_private_folder(const fs::path& folder) {
  // Folders under the user's profile are the user's alone already; no access list is set here.
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return std::unexpected(error.message() + " (os error " + std::to_string(error.value()) + ")");
  return {};
}

}  // namespace zelk::files_system
