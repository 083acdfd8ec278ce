#pragma once
// Small recipes for tests of starting, stopping and removing apps: "solo" (one container with
// two secrets, a setting, a size and a fallback image), "duo" (a helper before the app and one
// after it) and "user" (joins Solo's network and that of an app no one has).

#include <cstdint>
#include <string>
#include <string_view>

#include "recipe.h"

namespace zelk {

extern const char* const solo_recipe_text;
extern const char* const duo_recipe_text;

/// The "user" recipe, with "starts-used: <value>" when the value is not empty.
std::string user_recipe_text(std::string_view starts_used = {});

/// A minimal one-container recipe with the given id and name (port 40400, ready "/").
std::string plain_recipe_text(std::string_view id, std::string_view name);

/// The recipe read from the text; a refused text fails the test and gives an empty recipe.
Recipe read_test_recipe(std::string_view text);

/// A one-container recipe made in place: "App <id>", container "torvo-<id>", the port,
/// ready "/health", opened at "/".
Recipe recipe_named(std::string id, std::uint16_t port);

}  // namespace zelk
