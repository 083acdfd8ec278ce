#pragma once
/// Whole-file reads and writes, and the folders they go into. Every file Zelk rewrites goes
/// through write_file_atomically, so a crash, a full disk or the other Zelk program writing the
/// same file at the same moment leaves either one whole file or another, never half of one.

#include <cstddef>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace zelk {

/// Writes the bytes to a new file in the same folder and renames it over `path`. The folder
/// must exist. The new file is readable and writable by its owner only on Linux and macOS
/// (0600), whatever the file it replaces allowed. On failure the old file is untouched and the
/// error is the system's text. Safe against other threads and other processes writing the
/// same path at once: the last rename wins.
std::expected<void, std::string> write_file_atomically(const std::filesystem::path& path,
                                                       std::string_view bytes);

/// The whole file as bytes, or the system's error text.
std::expected<std::string, std::string> read_file(const std::filesystem::path& path);

/// Why read_plain_file gave no bytes: what is at the path is no plain file (a symbolic link, a
/// folder, a device), the file is larger than asked for, or the system's error text.
struct PlainFileError {
  enum class Kind { NotPlain, TooLarge, System };
  Kind kind = Kind::System;
  std::string text;
};

/// The whole file, for a file that a stranger may have laid there: it is opened without
/// following a symbolic link at its path (nor waiting on a pipe), and taken only when it is a
/// plain file of at most `limit` bytes.
std::expected<std::string, PlainFileError> read_plain_file(const std::filesystem::path& path, std::size_t limit);

/// Makes the folder with every missing parent. On Linux and macOS each folder it makes is
/// readable by its owner only (0700), and so is `folder` itself afterwards when it was there
/// already and belongs to this user (group and others lose their rights on it). On Windows
/// the folders get the access rights of where they are made. The error is the system's text.
std::expected<void, std::string> make_private_folder(const std::filesystem::path& folder);

/// Takes the rights of group and others off a file or folder this user owns, on Linux and
/// macOS (a file or folder an earlier version of Zelk, or the user, left readable by others
/// stays so until it is written again otherwise). A link at the path is left as it is, and so
/// is a folder with the sticky bit. Nothing on Windows; failures are silent.
void keep_private(const std::filesystem::path& path);

/// Makes <home>/<below> as make_private_folder does, and makes the data folder and every
/// level down to <home>/<below> private as well: the data folder holds the apps' secrets, and
/// an earlier version of Zelk made it readable by every local user.
std::expected<void, std::string> make_data_folder(const std::filesystem::path& home,
                                                  const std::filesystem::path& below = {});

}  // namespace zelk
