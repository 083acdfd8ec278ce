#include "apps.h"
#include "recipe.h"
#include "shelf.h"
#include "zelk/commands.h"
#include "zelk/recipe_source.h"

namespace zelk {

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
    say(ctx.output, "It replaces the recipe added before. The next start makes the container anew; its data stays.");
  }
  say(ctx.output, "Start it with: zelk start " + recipe.id);
  return {};
}

}  // namespace zelk
