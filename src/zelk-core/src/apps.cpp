#include "apps.h"

namespace zelk {

std::expected<const Recipe*, std::string> find_app(std::span<const Recipe> recipes,
                                                   std::string_view id) {
  for (const Recipe& recipe : recipes) {
    if (recipe.id == id) return &recipe;
  }
  std::string ids;
  for (const Recipe& recipe : recipes) {
    if (!ids.empty()) ids += ", ";
    ids += recipe.id;
  }
  return std::unexpected("Unknown app \"" + std::string(id) + "\". Choose: " + ids + ".");
}

}  // namespace zelk
