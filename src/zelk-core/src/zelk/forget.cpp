#include <system_error>

#include "apps.h"
#include "runtime.h"
#include "zelk/commands.h"

namespace zelk {

// Takes an added app out of the list. Only while none of its containers exists, so that no
// container is left that no recipe explains; its settings and data volumes stay.
CommandResult cmd_forget(CommandContext& ctx, const Args& args) {
  auto app = app_argument(args, ctx.recipes, args.empty() ? std::string_view("forget") : args[0]);
  if (!app) return std::unexpected(app.error());
  const Recipe& recipe = **app;
  if (recipe.built_in) return std::unexpected(recipe.name + " is built in and stays in the list.");

  auto choice = choose_runtime(ctx.runner);
  if (!choice) return std::unexpected(choice.error());
  for (const std::string& container : container_names(recipe)) {
    if (choice->containers.contains(container)) {
      return std::unexpected(recipe.name + " is still installed. Remove it first: zelk remove " + recipe.id);
    }
  }

  std::error_code error;
  std::filesystem::remove(recipe_path(ctx.home, recipe.id), error);
  if (error) {
    return std::unexpected("The recipe of " + recipe.name + " could not be taken out: " + error.message() +
                           " (os error " + std::to_string(error.value()) + ")");
  }
  std::error_code ignored;
  std::filesystem::remove(origin_path(ctx.home, recipe.id), ignored);
  say(ctx.output, recipe.name + " is out of the list. Its data and settings were not touched.");
  return {};
}

}  // namespace zelk
