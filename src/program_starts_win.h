#pragma once
/// The programs the window program starts and does not wait for: console windows (set-up,
/// the Podman Desktop download, a terminal for the container runtime) and Podman Desktop.
/// Windows builds only.
#include <windows.h>

#include <expected>
#include <filesystem>
#include <optional>
#include <string>

namespace zelk {

/// Starts the program (full path) in a new console window of its own, with exactly this
/// command line (nothing quoted, nothing added) and, when given, this PATH in place of the
/// inherited one. The console's own input and output are the child's streams; no handle of
/// this process is inherited. The error is "<system message> (os error <code>)".
std::expected<void, std::string> start_in_new_console(const std::wstring& application,
                                                      const std::wstring& command_line,
                                                      const std::optional<std::string>& path);

/// Starts the program with standard input, output and error on the null device.
std::expected<void, std::string> start_with_null_streams(const std::filesystem::path& program);

/// The folder the running program lies in.
std::expected<std::filesystem::path, std::string> folder_of_running_program();

/// The system's command interpreter: cmd.exe in the system folder, so no cmd.exe lying in the
/// current folder or on PATH is ever taken instead.
std::wstring system_command_interpreter();

}  // namespace zelk
