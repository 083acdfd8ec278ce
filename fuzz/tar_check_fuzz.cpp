// Fuzz target: any bytes read as a volume's archive end in a verdict without a crash, the same
// verdict however the bytes arrive in pieces, and a refusal shows the archive's names only as
// visible text (no control character reaches the terminal).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tar_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return -1;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  zelk::TarCheck whole;
  whole.feed(bytes);
  whole.finish();

  zelk::TarCheck pieces;
  std::size_t at = 0;
  for (std::size_t step = 1; at < bytes.size(); step = step % 613 + 97) {
    const std::size_t take = std::min(step, bytes.size() - at);
    pieces.feed(bytes.substr(at, take));
    at += take;
  }
  pieces.finish();

  if (whole.problem() != pieces.problem()) std::abort();
  if (whole.problem()) {
    if (whole.problem()->empty()) std::abort();
    for (char c : *whole.problem()) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || byte == 0x7f) std::abort();
    }
  }
  return 0;
}
