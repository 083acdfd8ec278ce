#pragma once
/// UTF-8 <-> UTF-16 for the Windows half of the platform layer: every path, argument and
/// environment value goes to the system as UTF-16. Windows builds only.

#include <optional>
#include <string>
#include <string_view>

namespace zelk {

/// UTF-16 of UTF-8 text; invalid bytes become U+FFFD.
std::wstring to_wide(std::string_view text);

/// UTF-8 of UTF-16 text, or none when it holds an unpaired surrogate.
std::optional<std::string> from_wide(std::wstring_view text);

/// UTF-8 of UTF-16 text with unpaired surrogates replaced by U+FFFD.
std::string from_wide_lossy(std::wstring_view text);

}  // namespace zelk
