// The four apps that come with Zelk. Their recipes are ordinary recipe texts (the .yaml files
// in builtin/, compiled in by the build) and go through the same reader as any added recipe.

#include <array>
#include <cstdio>
#include <cstdlib>

#include "apps.h"

namespace zelk {

namespace embedded {
extern const std::string_view n8n_yaml;
extern const std::string_view gitea_yaml;
extern const std::string_view open_webui_yaml;
extern const std::string_view ollama_yaml;
}  // namespace embedded

std::span<const std::string_view> builtin_recipe_texts() {
  static const std::array<std::string_view, 4> texts{
      embedded::n8n_yaml, embedded::gitea_yaml, embedded::open_webui_yaml, embedded::ollama_yaml};
  return texts;
}

const std::vector<Recipe>& builtin_recipes() {
  // A function-local static is initialised exactly once, even when threads race to it.
  static const std::vector<Recipe> recipes = [] {
    std::vector<Recipe> read;
    for (std::string_view text : builtin_recipe_texts()) {
      std::expected<Recipe, std::string> recipe = read_recipe(text);
      if (!recipe) {
        // The texts are part of the program: a refusal means the build itself is broken.
        const std::string line = "built-in recipe: " + recipe.error() + "\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        std::abort();
      }
      recipe->built_in = true;
      read.push_back(std::move(*recipe));
    }
    return read;
  }();
  return recipes;
}

}  // namespace zelk
