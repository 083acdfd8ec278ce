#pragma once
/// A strict UTF-8 check for texts that come from files and the environment, where text that is
/// not UTF-8 must be refused rather than read with replacement characters.

#include <string_view>

namespace zelk {

/// Whether the text is well-formed UTF-8 (overlong forms, surrogates and values past U+10FFFF
/// are not).
bool is_utf8(std::string_view text);

/// The text without Unicode white space at either end.
std::string_view trim_white_space(std::string_view text);

}  // namespace zelk
