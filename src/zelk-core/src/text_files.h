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

/// How a refusal of a recipe over the size limit ends.
inline constexpr std::string_view recipe_limit_words = ": a recipe has at most 64 KiB (65,536 bytes).";

/// What a refusal of a file that is not UTF-8 tells the user to do.
inline constexpr std::string_view save_as_utf8 = "Save it as UTF-8 text and try again.";

}  // namespace zelk
