#include "runtime.h"
#include "zelk/commands.h"

namespace zelk {

namespace {

std::string helper_names(const Recipe& recipe, std::string_view separator) {
  std::string names;
  for (const RecipeService& helper : recipe.helpers) {
    if (!names.empty()) names += separator;
    names += helper.name;
  }
  return names;
}

}  // namespace

CommandResult cmd_logs(CommandContext& ctx, const Args& args) {
  auto app = app_argument(args, ctx.recipes, args[0]);
  if (!app) return std::unexpected(app.error());
  const Recipe& recipe = **app;

  const bool helper_named = args.size() >= 3;
  std::string container = recipe.container;
  if (helper_named) {
    const std::string& wanted = args[2];
    const RecipeService* found = nullptr;
    for (const RecipeService& helper : recipe.helpers) {
      if (helper.name == wanted) {
        found = &helper;
        break;
      }
    }
    if (!found && recipe.helpers.empty()) {
      return std::unexpected(recipe.name + " has no helpers. Its logs: zelk logs " + recipe.id);
    }
    if (!found) {
      return std::unexpected(recipe.name + " has no helper \"" + wanted + "\". It has: " + helper_names(recipe, ", ") +
                             ".");
    }
    container = found->container;
  }

  auto choice = choose_runtime(ctx.runner);
  if (!choice) return std::unexpected(choice.error());
  if (!choice->containers.contains(container)) return std::unexpected(recipe.name + " is not installed.");

  auto shown = ctx.runner.run_attached(std::string(choice->runtime.command), {"logs", "--tail", "200", container}, {},
                                       AttachMode::Output);
  if (!shown || shown->exit_code != 0) return std::unexpected("The logs of " + recipe.name + " could not be read.");
  if (!helper_named && !recipe.helpers.empty()) {
    // One line a helper, each ready to be typed as it stands.
    std::string hint = "\nThese are the logs of " + recipe.name + " itself. Its helpers:";
    for (const RecipeService& helper : recipe.helpers) hint += "\n  zelk logs " + recipe.id + " " + helper.name;
    say(ctx.output, hint);
  }
  return {};
}

}  // namespace zelk
