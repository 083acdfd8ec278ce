#include "wide_win.h"

#include <windows.h>

#include "unicode.h"

namespace zelk {

std::wstring to_wide(std::string_view text) {
  if (text.empty()) return {};
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

// Windows' wide characters are UTF-16 units.
static std::u16string units_of(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

std::optional<std::string> from_wide(std::wstring_view text) { return utf8_from_utf16_exact(units_of(text)); }

std::string from_wide_lossy(std::wstring_view text) { return utf8_from_utf16(units_of(text)); }

}  // namespace zelk
