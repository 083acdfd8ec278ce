#include <algorithm>

#include "apps.h"
#include "apps_start.h"
#include "recipe.h"
#include "runtime.h"
#include "shelf.h"
#include "zelk/commands.h"
#include "zelk/recipe_source.h"

namespace zelk {

namespace {

/// The data volumes of the recipe being replaced that hold something (the runtime has them)
/// and that the new recipe does not name. When no runtime answers, every such volume counts:
/// whether it holds data cannot be told then. Gives the runtime's command too, "" when none.
std::pair<std::vector<std::string>, std::string> data_left_behind(const CommandContext& ctx, const Recipe& before,
                                                                  const Recipe& after) {
  const std::vector<std::string> kept = volume_names(after);
  std::vector<std::string> left;
  for (const std::string& volume : volume_names(before)) {
    if (std::find(kept.begin(), kept.end(), volume) == kept.end()) left.push_back(volume);
  }
  if (left.empty()) return {};
  auto choice = choose_runtime(ctx.runner);
  if (!choice) return {left, ""};
  const std::string rt(choice->runtime.command);
  std::erase_if(left, [&](const std::string& volume) {
    return !run_checked(ctx.runner, rt, existence_query(rt, "volume", volume));
  });
  return {left, rt};
}

std::string joined(const std::vector<std::string>& names, std::string_view between) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : std::string(between)) + name;
  return text;
}

}  // namespace

// Takes a recipe into the list of apps. A fetched recipe remembers its address; one from a
// file drops whatever address an earlier recipe of the same id had.
CommandResult cmd_add(CommandContext& ctx, const Args& args) {
  if (args.size() < 2) return std::unexpected("Usage: zelk add <file>");
  const std::string& source = args[1];
  auto text = read_recipe_source(ctx.runner, source);
  if (!text) return std::unexpected(text.error());
  const bool fetched = is_web_address(source);
  auto admission = fetched ? keep_recipe(*text, ctx.home) : keep_local_recipe(*text, ctx.home);
  if (!admission) return std::unexpected(source + "\n  " + admission.error());
  Recipe& recipe = admission->recipe;
  if (fetched) {
    // An origin file that cannot be written only costs the shown origin.
    recipe.from = keep_origin(ctx.home, recipe.id, source, *text) ? recipe_origin(ctx.home, recipe.id, *text)
                                                                  : std::string();
  }

  say(ctx.output, describe_recipe(recipe));
  say(ctx.output, "\n" + recipe.name + " is in the list now.");
  if (is_default_shelf_recipe(recipe.from)) {
    say(ctx.output, "It comes from the Zelk's own shelf. The Zelk team tries every recipe before it is put there.");
  } else {
    say(ctx.output,
        "Nobody has reviewed this recipe. It runs a program from the image named above: add it only if you "
        "trust who gave it to you.");
  }
  if (admission->replaces) {
    const auto before = std::find_if(ctx.recipes.begin(), ctx.recipes.end(),
                                     [&](const Recipe& known) { return known.id == recipe.id; });
    const auto [left, rt] = before != ctx.recipes.end() ? data_left_behind(ctx, *before, recipe)
                                                        : std::pair<std::vector<std::string>, std::string>();
    if (left.empty()) {
      say(ctx.output,
          "It replaces the recipe added before. The next start makes the container anew; its data stays.");
    } else {
      const bool several = left.size() > 1;
      const std::string volumes = joined(left, ", ");
      const std::string them = several ? "them" : "it";
      std::string ways = "back " + them + " up or remove " + them + " with your container runtime.";
      if (!rt.empty()) {
        // Docker has no export of a volume; Podman's makes the copy in one step.
        const std::string copy = rt == "podman" ? "keep a copy with \"podman volume export " +
                                                      (several ? std::string("<volume>") : left.front()) +
                                                      " -o <file>\""
                                                : "back " + them + " up";
        ways = copy + ", or remove " + them + " with \"" + rt + " volume rm " + joined(left, " ") + "\".";
      }
      say(ctx.output, "It replaces the recipe added before, whose data is in the data volume" +
                          std::string(several ? "s " : " ") + volumes + ". The new recipe does not use " +
                          (several ? "them" : "it") + ": the next start makes " + recipe.name +
                          " anew without that data.\n  To keep using the data, add the recipe from before again. "
                          "Otherwise " + ways);
    }
  }
  say(ctx.output, "Start it with: zelk start " + recipe.id);
  return {};
}

}  // namespace zelk
