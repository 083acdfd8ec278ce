#pragma once
/// The apps this computer knows: the built-in recipes, the recipes the user added in the data
/// folder, and the admission test every new recipe passes before it joins them.

#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recipe.h"

namespace zelk {

/// The known recipes in catalogue order (built-ins first, then added files in path order)
/// and one notice per added file that is not used.
struct RecipeCatalogue {
  std::vector<Recipe> recipes;
  std::vector<std::string> notices;
};

/// A recipe that passed admission, and whether it takes the place of an added recipe with the
/// same id.
struct Admission {
  Recipe recipe;
  bool replaces = false;
};

/// The built-in recipes and the added ones under <home>/recipes. Never fails: every problem
/// with an added file becomes a notice.
RecipeCatalogue load_catalogue(const std::filesystem::path& home);

/// FNV-1a with 64 bits (offset basis 0xcbf29ce484222325, prime 0x100000001b3) of the bytes,
/// as exactly 16 lower-case hexadecimal digits.
std::string fnv1a_64(std::string_view bytes);

/// The first recipe with that id, or 'Unknown app "<id>". Choose: <ids>.'
std::expected<const Recipe*, std::string> find_app(std::span<const Recipe> recipes,
                                                   std::string_view id);

}  // namespace zelk
