#include "recipe.h"

namespace zelk {

std::expected<Recipe, std::string> read_recipe(std::string_view) { return std::unexpected("not built yet"); }

}  // namespace zelk
