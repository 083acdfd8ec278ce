#include "fresh_folder.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace zelk {

bool says_disk_full(std::string_view text) {
  static constexpr std::array<std::string_view, 2> phrases{"no space left on device", "not enough space on the disk"};
  const auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
  return std::any_of(phrases.begin(), phrases.end(), [&](std::string_view phrase) {
    return std::search(text.begin(), text.end(), phrase.begin(), phrase.end(),
                       [&](char a, char b) { return lower(a) == b; }) != text.end();
  });
}

}  // namespace zelk
