#include "app_lock.h"
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
  auto held = lock_app(ctx, recipe);
  if (!held) return std::unexpected(held.error());

  auto choice = choose_runtime(ctx.runner);
  if (!choice) return std::unexpected(choice.error());
  for (const std::string& container : container_names(recipe)) {
    if (choice->containers.contains(container)) {
      return std::unexpected(still_installed_message(recipe));
    }
  }

  if (auto forgotten = forget_added_recipe(ctx.home, recipe); !forgotten) return forgotten;
  say(ctx.output, recipe.name + " is out of the list. Its data and settings were not touched.");
  return {};
}

}  // namespace zelk
