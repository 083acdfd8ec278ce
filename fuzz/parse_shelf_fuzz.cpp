// Fuzz target: any bytes given to parse_shelf end in a shelf or a message, and a shelf holds
// only what its rules allow: 1 to 50 distinct shelf file names lying next to the shelf.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "shelf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 65536) return -1;  // fetches stop at 64 KiB
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string folder = "https://example.org/lists/";
  const auto shelf = zelk::parse_shelf(text, folder + "shelf.yaml");
  if (!shelf) {
    if (shelf.error().empty()) std::abort();
    return 0;
  }
  if (shelf->name.empty() || shelf->recipes.empty() || shelf->recipes.size() > 50) std::abort();
  std::set<std::string> files;
  for (const auto& recipe : shelf->recipes) {
    if (!zelk::is_shelf_file_name(recipe.file) || !files.insert(recipe.file).second) std::abort();
    if (recipe.address != folder + recipe.file || !zelk::check_web_address(recipe.address)) std::abort();
  }
  return 0;
}
