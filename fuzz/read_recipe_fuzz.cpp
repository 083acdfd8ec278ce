// Fuzz target: any bytes given to read_recipe end in a recipe or a message. Whatever passes
// is described, and its derived names are walked, so those paths are exercised too.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "recipe.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Callers refuse texts over 64 KiB before reading them; larger inputs only slow the search.
  if (size > 65536) return -1;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto recipe = zelk::read_recipe(text);
  if (!recipe) {
    if (recipe.error().empty()) std::abort();  // every refusal names its reason
    return 0;
  }
  if (recipe->container != "torvo-" + recipe->id || recipe->port < 1024 ||
      recipe->inner_port == 0 || describe_recipe(*recipe).empty()) {
    std::abort();
  }
  for (const auto& name : zelk::container_names(*recipe)) {
    if (!name.starts_with(recipe->container)) std::abort();
  }
  for (const auto& volume : zelk::volume_names(*recipe)) {
    if (!volume.starts_with(recipe->container + "-")) std::abort();
  }
  return 0;
}
