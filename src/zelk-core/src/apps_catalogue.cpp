// The catalogue: the built-in recipes, then the recipes added as files, each admitted against
// the apps already known so that no two apps share an id, a port, a container or a volume.

#include <algorithm>
#include <system_error>
#include <utility>

#include "apps.h"
#include "files.h"
#include "platform.h"
#include "runner.h"
#include "text_files.h"
#include "unicode.h"
#include "utf8.h"

namespace zelk {

namespace {

bool holds(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Only names whose extension is exactly "yaml": "a.yaml" counts, ".yaml", "a.yml" and
// "a.YAML" do not.
bool has_recipe_extension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot != std::string_view::npos && dot != 0 && name.substr(dot + 1) == "yaml";
}

// The reason an added file is not used, or the admitted recipe.
std::expected<Recipe, std::string> read_added_file(const std::filesystem::path& home,
                                                   const std::filesystem::path& path,
                                                   std::span<const Recipe> known) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return std::unexpected(error_code_text(error));
  if (size > recipe_size_limit) {
    return std::unexpected("it is too large to be a recipe" + std::string(recipe_limit_words));
  }
  std::expected<std::string, std::string> text = read_text_file(path);
  if (!text) return std::unexpected(text.error());
  std::expected<Admission, std::string> admission = admit_recipe(*text, known);
  if (!admission) return std::unexpected(admission.error());
  if (admission->replaces) {
    return std::unexpected("the id \"" + admission->recipe.id + "\" is in another file too.");
  }
  admission->recipe.from = recipe_origin(home, admission->recipe.id, *text);
  return std::move(admission->recipe);
}

}  // namespace

std::expected<Admission, std::string> admit_recipe(std::string_view text,
                                                   std::span<const Recipe> known) {
  if (text.size() > recipe_size_limit) {
    return std::unexpected("This is too large to be a recipe.");
  }
  std::expected<Recipe, std::string> recipe = read_recipe(text);
  if (!recipe) return std::unexpected(recipe.error());

  const std::vector<std::string> containers = container_names(*recipe);
  const std::vector<std::string> volumes = volume_names(*recipe);
  bool replaces = false;
  for (const Recipe& other : known) {
    if (other.id == recipe->id) {
      if (other.built_in) {
        return std::unexpected("The id \"" + recipe->id + "\" belongs to " + other.name +
                               ", which is built in. Choose another id.");
      }
      // An added app of the same id is what this recipe would replace: its port, containers
      // and volumes are this app's own.
      replaces = true;
      continue;
    }
    if (other.port == recipe->port) {
      return std::unexpected("Port " + std::to_string(recipe->port) + " is the port of " +
                             other.name + ". Choose another one.");
    }
    const std::vector<std::string> other_containers = container_names(other);
    for (const std::string& container : containers) {
      if (holds(other_containers, container)) {
        return std::unexpected("The container \"" + container +
                               "\" would also be a container of " + other.name +
                               ". Choose another id, or another name for the helper.");
      }
    }
    const std::vector<std::string> other_volumes = volume_names(other);
    for (const std::string& volume : volumes) {
      if (holds(other_volumes, volume)) {
        return std::unexpected("The volume \"" + volume + "\" is a volume of " + other.name +
                               ". Choose another id, or another name for the volume.");
      }
    }
  }
  return Admission{.recipe = std::move(*recipe), .replaces = replaces};
}

RecipeCatalogue load_catalogue(const std::filesystem::path& home) {
  RecipeCatalogue catalogue{.recipes = builtin_recipes(), .notices = {}};

  // The added recipes are the user's own: a folder left readable to others is narrowed when
  // read, as it is written only when a recipe is added.
  keep_private(home);
  keep_private(recipes_folder(home));
  // A folder that cannot be listed (most often: nothing was added yet) leaves the built-ins.
  std::error_code error;
  std::filesystem::directory_iterator entry(recipes_folder(home), error);
  if (error) return catalogue;
  std::vector<std::pair<std::string, std::filesystem::path>> files;
  // An entry that cannot be read is skipped and the listing goes on; only a failure of the
  // listing itself ends it (the folder iterator has no next entry after one).
  for (; entry != std::filesystem::directory_iterator(); entry.increment(error)) {
    // A name that is not valid Unicode (possible on Windows) has no text to sort, show or
    // compare: that entry cannot be read as a recipe's file.
    std::optional<std::string> name = path_to_utf8_exact(entry->path().filename());
    if (!name || !is_valid_utf8(*name)) continue;
    if (has_recipe_extension(*name)) files.emplace_back(std::move(*name), entry->path());
  }

  // By name as bytes, so the first of two files with one id is the same on every system.
  std::sort(files.begin(), files.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });

  for (const auto& [name, path] : files) {
    std::expected<Recipe, std::string> recipe = read_added_file(home, path, catalogue.recipes);
    if (!recipe) {
      catalogue.notices.push_back("The recipe " + visible_text(path_to_utf8(path)) +
                                  " is not used: " + recipe.error());
      continue;
    }
    catalogue.recipes.push_back(std::move(*recipe));
  }
  return catalogue;
}

}  // namespace zelk
