#include "utf8.h"

namespace zelk {

std::optional<std::vector<char32_t>> utf8_code_points(std::string_view text) {
  std::vector<char32_t> points;
  points.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t point = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
      length = 1, point = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, point = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, point = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, point = lead & 0x07, smallest = 0x10000;
    } else {
      return std::nullopt;
    }
    if (i + length > text.size()) return std::nullopt;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      point = (point << 6) | (next & 0x3F);
    }
    if (point < smallest || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
      return std::nullopt;
    }
    points.push_back(point);
    i += length;
  }
  return points;
}

bool is_utf8(std::string_view text) { return utf8_code_points(text).has_value(); }

}  // namespace zelk
