#pragma once
/// Operating-system services shared by both programs: the data folder, environment
/// variables, program lookup, random bytes and the browser. Every function here is free of
/// state and may be called from any thread.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "addresses.h"  // help_address: every address on the maker's host lies there

namespace zelk {

struct CommandContext;

/// The platform word the commands branch on: "windows" on Windows builds, "linux" elsewhere.
extern const std::string_view platform_word;

/// A path made from UTF-8 text. Use it instead of constructing a path from std::string,
/// which on Windows would read the bytes in the ANSI code page. Never fails: on Windows a byte
/// that is not UTF-8 becomes U+FFFD.
std::filesystem::path path_from_utf8(std::string_view text);

/// The UTF-8 text of a path, for showing it in a message. Never fails: on Windows a name that
/// is not valid Unicode (a lone surrogate) shows U+FFFD where it breaks; elsewhere the bytes
/// are given as they are.
std::string path_to_utf8(const std::filesystem::path& path);

/// The UTF-8 text that names the path exactly, for handing it to another program; none on
/// Windows when the path is not valid Unicode, since no text could name it.
std::optional<std::string> path_to_utf8_exact(const std::filesystem::path& path);

/// The value of an environment variable as UTF-8, or none when it is not set. On Windows a
/// value that is not valid Unicode shows U+FFFD where it breaks.
std::optional<std::string> get_env(std::string_view name);

/// The value of an environment variable when it is set and valid Unicode (UTF-8 on Linux and
/// macOS), else none.
std::optional<std::string> get_unicode_env(std::string_view name);

/// The value of an environment variable as a path, exactly as the system gives it (on Windows
/// valid Unicode or not); none when it is not set.
std::optional<std::filesystem::path> env_path(std::string_view name);

/// The folder an environment variable names, with each part appended as one more path
/// component, in order; none when the variable is not set. The value is taken as it is (not
/// trimmed, not checked): an empty value gives a relative path of the parts alone.
std::optional<std::filesystem::path> env_path_join(std::string_view variable,
                                                   std::span<const std::string_view> parts);

/// Where Podman Desktop is installed: the first of
/// %LOCALAPPDATA%\Programs\Podman Desktop\Podman Desktop.exe,
/// %LOCALAPPDATA%\Programs\podman-desktop\Podman Desktop.exe and
/// %ProgramFiles%\Podman Desktop\Podman Desktop.exe for which the file system has an entry
/// (a candidate whose variable is not set is left out); none when no candidate exists.
/// Looks each time, so an installation made meanwhile is seen at the next call.
std::optional<std::filesystem::path> find_podman_desktop();

/// The data folder: ZELK_HOME when set and not empty, else the user's folder (USERPROFILE on
/// Windows, HOME elsewhere) joined with ".torvo"; none when neither gives one.
std::optional<std::filesystem::path> data_folder();

/// What to start for a program name: on Windows the name itself when <name>.exe is on PATH,
/// else Podman's standard folder under ProgramFiles when it holds it; elsewhere the name.
std::string find_program(std::string_view name);

/// Fills the buffer with random bytes from the operating system. Fails with "The operating
/// system gave no random data." when the generator refuses.
std::expected<void, std::string> fill_random(std::span<std::uint8_t> buffer);

/// Starts the user's browser at the address. On Windows it does not wait for the browser and
/// fails only when the browser helper cannot be started, with "<system message> (os error
/// <code>)". Elsewhere it waits (30 seconds at most) for xdg-open, which ends once it has
/// handed the address on, and fails as well when xdg-open is missing or says it could not.
std::expected<void, std::string> open_in_browser(const std::string& address);

/// Advice to append to a failed set-up on Windows, beginning with "\n  ": what to do about
/// Windows' Linux subsystem (asked with "wsl --status"), or about virtualization when it
/// answers. Empty on every other platform word.
std::string check_wsl(const CommandContext& ctx);

}  // namespace zelk
