#pragma once
/// The operating system's half of app_lock.h, one file per platform (app_lock_posix.cpp,
/// app_lock_win.cpp): one open lock file and its exclusive lock. Errors are the system's text.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>

namespace zelk::app_lock_file {

/// A lock file, open, and locked once try_take says so. Closing it lets go of the lock; so
/// does the end of the process. Neither its descriptor nor its handle is inherited by a child.
class LockFile {
 public:
  /// Opens the file, making it (readable and writable by its owner only on Linux and macOS)
  /// when it is not there. A file that can only be read, in a folder that became read-only,
  /// still locks. None when it is not there and cannot be made.
  static std::expected<std::optional<LockFile>, std::string> open(const std::filesystem::path& path);

  /// Takes the exclusive lock without waiting: true when taken, false when another open file
  /// holds it (in this process or another).
  std::expected<bool, std::string> try_take();

  ~LockFile();
  LockFile(LockFile&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
  LockFile& operator=(LockFile&& other) noexcept;
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

 private:
  explicit LockFile(std::intptr_t handle) : handle_(handle) {}
  void close();
  std::intptr_t handle_ = -1;  // a descriptor on POSIX, a HANDLE on Windows; -1 is none
};

}  // namespace zelk::app_lock_file
