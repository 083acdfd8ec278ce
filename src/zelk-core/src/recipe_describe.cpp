// The description "check" shows of a recipe before it is added.

#include <algorithm>

#include "recipe.h"
#include "unicode.h"

namespace zelk {

namespace {

/// The secret names the app's and its helpers' environments refer to, each once, in order.
std::vector<std::string> secret_names(const Recipe& recipe) {
  std::vector<std::string> names;
  const auto add = [&names](const std::vector<RecipeEnv>& environment) {
    for (const RecipeEnv& env : environment) {
      for (const auto& [name, length] : env_secrets(env.value)) {
        if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
      }
    }
  };
  add(recipe.environment);
  for (const RecipeService& helper : recipe.helpers) add(helper.environment);
  return names;
}

}  // namespace

// The texts the recipe's author wrote that no rule keeps plain (an image's address, a path
// inside the container) are shown with their controls and direction marks visible.
std::string describe_recipe(const Recipe& recipe) {
  std::vector<std::string> lines;
  lines.push_back(recipe.name + " (" + recipe.category + ")");
  lines.push_back("  " + recipe.summary);
  lines.push_back("  Image:    " + visible_text(recipe.image));
  if (recipe.fallback_image) lines.push_back("  or from:  " + visible_text(*recipe.fallback_image));
  for (const RecipeService& helper : recipe.helpers) {
    lines.push_back("  Helper:   " + helper.name + ", from " + visible_text(helper.image) +
                    " (not published on this computer; this app reaches it over their own network)");
  }
  lines.push_back("  Address:  http://127.0.0.1:" + std::to_string(recipe.port) + recipe.open +
                  " (this computer only)");
  for (const RecipeMount& mount : recipe.volumes) {
    lines.push_back("  Data:     " + mount.volume + ", inside the app at " + visible_text(mount.path));
  }
  for (const RecipeService& helper : recipe.helpers) {
    for (const RecipeMount& mount : helper.volumes) {
      lines.push_back("  Data:     " + mount.volume + ", inside " + helper.name + " at " +
                      visible_text(mount.path));
    }
  }
  if (volume_names(recipe).empty()) lines.push_back("  Data:     none is kept");
  if (recipe.network) {
    lines.push_back("  Network:  " + *recipe.network +
                    " (an app whose recipe names it reaches this one there)");
  }
  for (const std::string& id : recipe.uses) {
    lines.push_back("  Reaches:  the app \"" + id + "\", over its network torvo-" + id +
                    (recipe.starts_used ? "" : ", once it runs"));
  }
  const std::vector<std::string> secrets = secret_names(recipe);
  if (!secrets.empty()) {
    std::string joined;
    for (const std::string& name : secrets) joined += (joined.empty() ? "" : ", ") + name;
    lines.push_back("  Secrets:  " + joined + " (made on this computer at the first start)");
  }
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

}  // namespace zelk
