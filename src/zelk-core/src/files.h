#pragma once
/// Whole-file reads and writes. Every file Zelk rewrites goes through write_file_atomically,
/// so a crash or a full disk leaves either the old file or the new one, never half of one.

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace zelk {

/// Writes the bytes to a new file in the same folder and renames it over `path`. The folder
/// must exist. On failure the old file is untouched and the error is the system's text.
std::expected<void, std::string> write_file_atomically(const std::filesystem::path& path,
                                                       std::string_view bytes);

/// The whole file as bytes, or the system's error text.
std::expected<std::string, std::string> read_file(const std::filesystem::path& path);

}  // namespace zelk
