#include "device_names.h"

#include <array>

namespace zelk {

namespace {

char small(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_letters(std::string_view text, std::string_view small_word) {
  if (text.size() != small_word.size()) return false;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (small(text[at]) != small_word[at]) return false;
  }
  return true;
}

}  // namespace

bool is_device_name(std::string_view name) {
  // Windows reads only the part before the first dot, and drops blanks and dots at its end.
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (std::string_view word : {"con", "prn", "aux", "nul"}) {
    if (same_letters(stem, word)) return true;
  }
  if (stem.size() < 4) return false;
  const std::string_view start = stem.substr(0, 3);
  if (!same_letters(start, "com") && !same_letters(start, "lpt")) return false;
  const std::string_view number = stem.substr(3);
  if (number.size() == 1) return number[0] >= '1' && number[0] <= '9';
  // Superscript one, two and three count as digits there.
  constexpr std::array<std::string_view, 3> superscripts{"\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};
  for (std::string_view superscript : superscripts) {
    if (number == superscript) return true;
  }
  return false;
}

}  // namespace zelk
