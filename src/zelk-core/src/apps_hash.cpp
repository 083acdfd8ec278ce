#include <cstdint>

#include "apps.h"

namespace zelk {

std::string fnv1a_64(std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ull;
  }
  static constexpr char digits[] = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i) {
    text[static_cast<std::size_t>(i)] = digits[hash & 0xF];
    hash >>= 4;
  }
  return text;
}

}  // namespace zelk
