#include "fresh_folder.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "files_system.h"

namespace zelk {

std::expected<void, FreshError> write_fresh_file(const std::filesystem::path& path, std::string_view bytes) {
  // CREATE_NEW and O_EXCL fail on any entry at the path, a link included.
  auto written = files_system::write_new_file(path, bytes, {.never_follow_link = true, .put_on_disk = true});
  if (!written) return std::unexpected(FreshError{std::move(written.error().text), written.error().taken});
  return {};
}

bool says_disk_full(std::string_view text) {
  static constexpr std::array<std::string_view, 2> phrases{"no space left on device", "not enough space on the disk"};
  const auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
  return std::any_of(phrases.begin(), phrases.end(), [&](std::string_view phrase) {
    return std::search(text.begin(), text.end(), phrase.begin(), phrase.end(),
                       [&](char a, char b) { return lower(a) == b; }) != text.end();
  });
}

}  // namespace zelk
