// Fuzz target: any list of versions ends in an offer, no offer or a message; an offer holds
// only what the rules allow, and the version comparison is a strict order on what it reads.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "update.h"

namespace {

bool plain_name_char(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.' ||
         c == '_';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 65536) return -1;  // fetches stop at 64 KiB
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string_view running = "0.2.0-alpha.15";
  const auto offer = zelk::read_version_list(text, running, "windows-x64");
  if (!offer) {
    if (offer.error().empty()) std::abort();
  } else if (*offer) {
    const zelk::UpdateOffer& found = **offer;
    if (found.size < 1 || found.size > zelk::installer_size_limit || found.sha256.size() != 64) std::abort();
    if (!zelk::is_version_text(found.version) || !zelk::is_newer_version(found.version, running)) std::abort();
    if (found.file.empty() || found.file.size() > 120 || found.file.front() == '.' || found.file.front() == '-') {
      std::abort();
    }
    for (char c : found.file) {
      if (!plain_name_char(c)) std::abort();
    }
  }
  // Split the input in two version texts: newer-than must never hold both ways, nor for a
  // text against itself.
  const std::size_t half = text.size() / 2;
  const std::string_view a = text.substr(0, half);
  const std::string_view b = text.substr(half);
  if (zelk::is_newer_version(a, a) || (zelk::is_newer_version(a, b) && zelk::is_newer_version(b, a))) {
    std::abort();
  }
  (void)zelk::parse_version(text);
  return 0;
}
