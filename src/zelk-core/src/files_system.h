#pragma once
/// The operating system's half of files.h, one file per platform (files_posix.cpp,
/// files_win.cpp). Errors are the system's text: "<message> (os error <code>)".

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

#include "files.h"

namespace zelk::files_system {

/// Why a new file could not be made: `taken` when something already has its name.
struct NewFileError {
  std::string text;
  bool taken = false;
};

/// How write_new_file makes the file, beyond what it always does.
struct NewFileWay {
  bool never_follow_link = false;  // open the entry at the path itself, never what a link names
  bool put_on_disk = false;        // the bytes are on disk, not only in the system's cache, once it returns
};

/// Creates the file, failing when anything is at its path already, writes the bytes into it
/// and closes it. On Linux and macOS it is made readable and writable by its owner only
/// (0600) before the first byte goes in. A file left half-written by a failure is removed.
std::expected<void, NewFileError> write_new_file(const std::filesystem::path& path, std::string_view bytes,
                                                 NewFileWay way = {});

/// The whole file as bytes. On Windows it is opened so that it never keeps another process
/// from replacing it, and a moment in which another process holds it is waited out.
std::expected<std::string, std::string> read_whole_file(const std::filesystem::path& path);

/// See read_plain_file in files.h.
std::expected<std::string, PlainFileError> read_plain_file(const std::filesystem::path& path, std::size_t limit);

/// Moves the file over `to` in one step, replacing what is there.
std::expected<void, std::string> replace_file(const std::filesystem::path& from, const std::filesystem::path& to);

/// This process's id.
std::uint64_t process_id();

/// See keep_private in files.h.
void keep_private(const std::filesystem::path& path);

/// See make_private_folder in files.h.
std::expected<void, std::string> make_private_folder(const std::filesystem::path& folder);

}  // namespace zelk::files_system
