#include "apps.h"
#include "recipe.h"
#include "zelk/commands.h"
#include "zelk/recipe_source.h"

namespace zelk {

// Says what a recipe would run here, and whether it could join the apps, without keeping it.
CommandResult cmd_check(CommandContext& ctx, const Args& args) {
  if (args.size() < 2) return std::unexpected("Usage: zelk check <file>");
  const std::string& source = args[1];
  auto text = read_recipe_source(ctx.runner, source);
  if (!text) return std::unexpected(text.error());
  auto recipe = read_recipe(*text);
  if (!recipe) return std::unexpected(source + "\n  " + recipe.error());
  say(ctx.output, describe_recipe(*recipe));
  auto admission = admit_recipe(*text, ctx.recipes);
  if (!admission) return std::unexpected(admission.error());
  say(ctx.output, "\nThe recipe is complete. This Zelk could run it.");
  if (admission->replaces) say(ctx.output, "It would replace the recipe with the same id that was added before.");
  return {};
}

}  // namespace zelk
