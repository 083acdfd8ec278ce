#pragma once
/// Starting processes on Windows, shared by the command runner and the browser start:
/// locating a program the way the process start does, and starting it with exactly the
/// standard handles given. Windows builds only.

#include <windows.h>

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelk::win {

/// A kernel handle, closed when it goes out of scope.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { reset(); }
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void reset() {
    if (*this) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

/// The folders of a PATH-like list: split at ";" outside double quotes, quotes removed,
/// empty entries dropped.
std::vector<std::wstring> split_path_list(std::wstring_view list);

/// "<folder>\<file>", without doubling a separator the folder already ends with.
std::wstring join_path(std::wstring_view folder, std::wstring_view file);

/// True when the path names an existing file that is not a folder; any failure is false.
bool is_file(const std::wstring& path);

/// Where the process start finds a program. A bare name (".exe" appended when it holds no
/// "."), is looked for in this program's own folder, the system folder, the Windows folder
/// and then the folders of PATH, never in the current folder; none when it is in none of
/// them. A name with a folder part is tried with ".exe" appended first when it does not end
/// in ".exe", else given back unchanged.
std::optional<std::wstring> locate_program(std::wstring_view name);

/// The inherited environment with the pairs (UTF-8 names and values) laid over it, as one
/// block for the process start: a pair replaces a variable of the same name in any case, of
/// two pairs the later wins, and the block is sorted by name without regard to case, as the
/// system keeps its own.
std::wstring environment_block(const std::vector<std::pair<std::string, std::string>>& pairs);

/// The null device, for reading and writing.
Handle open_null_device();

/// One process start. The child gets exactly these standard handles (a null one leaves that
/// stream without a handle) and inherits no other handle of this process.
struct ProcessStart {
  std::wstring application;  ///< the full path of the program file
  std::wstring command_line;
  HANDLE std_input = nullptr;
  HANDLE std_output = nullptr;
  HANDLE std_error = nullptr;
  DWORD creation_flags = 0;
  std::optional<std::wstring> environment;  ///< a whole environment block; none inherits
};

/// Starts the process and gives its handle, or the system error code of the failure.
std::expected<Handle, DWORD> start_process(const ProcessStart& start);

}  // namespace zelk::win
