#include "wide_win.h"

#include <windows.h>

namespace zelk {

std::wstring to_wide(std::string_view text) {
  if (text.empty()) return {};
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

static std::optional<std::string> convert(std::wstring_view text, DWORD flags) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, flags, text.data(), static_cast<int>(text.size()), nullptr,
                                 0, nullptr, nullptr);
  if (size == 0) return std::nullopt;
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, flags, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::optional<std::string> from_wide(std::wstring_view text) {
  return convert(text, WC_ERR_INVALID_CHARS);
}

std::string from_wide_lossy(std::wstring_view text) { return convert(text, 0).value_or(""); }

}  // namespace zelk
