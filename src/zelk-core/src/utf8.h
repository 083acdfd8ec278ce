#pragma once
/// Strict UTF-8 checks for texts that come from files, the environment and the web.

#include <optional>
#include <string_view>
#include <vector>

namespace zelk {

/// The code points of UTF-8 text, or none when it is not well-formed UTF-8 (overlong forms,
/// surrogates and values past U+10FFFF are refused).
std::optional<std::vector<char32_t>> utf8_code_points(std::string_view text);

/// Whether the text is well-formed UTF-8.
bool is_utf8(std::string_view text);

}  // namespace zelk
