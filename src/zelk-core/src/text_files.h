#pragma once
/// Files read as UTF-8 text: recipes, origin files and everything else the user may have
/// edited by hand, where bytes that are not UTF-8 must be refused rather than passed on.

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace zelk {

/// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates, nothing
/// beyond U+10FFFF, no sequence cut off.
bool is_utf8(std::string_view bytes);

/// The whole file as text, or the system's error text, or "stream did not contain valid
/// UTF-8" for bytes that are not UTF-8.
std::expected<std::string, std::string> read_text_file(const std::filesystem::path& path);

}  // namespace zelk
