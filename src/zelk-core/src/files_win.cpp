#include <windows.h>

#include <algorithm>
#include <system_error>

#include "files_system.h"
#include "runner.h"

namespace zelk::files_system {

namespace fs = std::filesystem;

namespace {

constexpr ULONGLONG held_limit_ms = 2000;

// Another process that has the file open (the other Zelk program reading its settings, a
// virus scanner, an indexer) makes the rename fail for as long as it holds it: a moment.
// A folder at the path refuses with the same "access denied" for good.
bool held_by_another(DWORD error, const fs::path& path) {
  if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) return false;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Tries `step` until it succeeds, or fails for another reason than a file held by another
// process, or two seconds have passed: bounded, and a real refusal still fails at once. The
// pauses start at a millisecond and stay short, since the holder is most often a reader
// that lets go within one. Gives the last system error code, or ERROR_SUCCESS.
template <typename Step>
DWORD while_held(const fs::path& path, Step step) {
  const ULONGLONG give_up = GetTickCount64() + held_limit_ms;
  DWORD pause_ms = 1;
  while (true) {
    const DWORD error = step();
    if (error == ERROR_SUCCESS || !held_by_another(error, path) || GetTickCount64() >= give_up) return error;
    Sleep(pause_ms);
    pause_ms = std::min<DWORD>(pause_ms * 2, 16);
  }
}

}  // namespace

std::expected<void, NewFileError> write_new_file(const fs::path& path, std::string_view bytes, NewFileWay way) {
  // No sharing: nobody else opens the file before it has its final name.
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (way.never_follow_link ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr);
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
  if (way.put_on_disk && error == ERROR_SUCCESS && !FlushFileBuffers(file)) error = GetLastError();
  if (!CloseHandle(file) && error == ERROR_SUCCESS) error = GetLastError();
  if (error != ERROR_SUCCESS) {
    DeleteFileW(path.c_str());
    return std::unexpected(NewFileError{os_error_text(static_cast<int>(error)), false});
  }
  return {};
}

std::expected<std::string, std::string> read_whole_file(const fs::path& path) {
  // Every sharing right, delete included: a reader never keeps the other program from
  // putting a new version of the file in place.
  HANDLE file = INVALID_HANDLE_VALUE;
  const DWORD opened = while_held(path, [&] {
    file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  });
  if (opened != ERROR_SUCCESS) return std::unexpected(os_error_text(static_cast<int>(opened)));
  std::string bytes;
  char buffer[65536];
  DWORD error = ERROR_SUCCESS;
  while (true) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      error = GetLastError();
      break;
    }
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  CloseHandle(file);
  if (error != ERROR_SUCCESS) return std::unexpected(os_error_text(static_cast<int>(error)));
  return bytes;
}

std::expected<std::string, PlainFileError> read_plain_file(const fs::path& path, std::size_t limit) {
  using Kind = PlainFileError::Kind;
  // The link itself is opened, not what it points to, and a folder cannot be opened this way.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return std::unexpected(PlainFileError{folder ? Kind::NotPlain : Kind::System,
                                          os_error_text(static_cast<int>(error))});
  }
  std::expected<std::string, PlainFileError> result;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) {
    result = std::unexpected(PlainFileError{Kind::System, os_error_text(static_cast<int>(GetLastError()))});
  } else if (GetFileType(file) != FILE_TYPE_DISK ||
             (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    result = std::unexpected(PlainFileError{Kind::NotPlain, {}});
  } else {
    std::string bytes;
    char buffer[16384];
    while (result) {
      DWORD got = 0;
      if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
        result = std::unexpected(PlainFileError{Kind::System, os_error_text(static_cast<int>(GetLastError()))});
      } else if (got == 0) {
        break;
      } else if (bytes.size() + got > limit) {
        result = std::unexpected(PlainFileError{Kind::TooLarge, {}});
      } else {
        bytes.append(buffer, got);
      }
    }
    if (result) result = std::move(bytes);
  }
  CloseHandle(file);
  return result;
}

std::expected<void, std::string> replace_file(const fs::path& from, const fs::path& to) {
  const DWORD error = while_held(to, [&] {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ? ERROR_SUCCESS : GetLastError();
  });
  if (error != ERROR_SUCCESS) return std::unexpected(os_error_text(static_cast<int>(error)));
  return {};
}

std::uint64_t process_id() { return GetCurrentProcessId(); }

// Files and folders under the user's profile are the user's alone already.
void keep_private(const fs::path&) {}

std::expected<void, std::string> make_private_folder(const fs::path& folder) {
  // Folders under the user's profile are the user's alone already; no access list is set here.
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return std::unexpected(error_code_text(error));
  return {};
}

}  // namespace zelk::files_system
