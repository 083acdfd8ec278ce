#include <algorithm>
#include <chrono>

#include "platform.h"
#include "runtime.h"
#include "unicode.h"
#include "zelk/commands.h"

namespace zelk {

CommandResult cmd_doctor(CommandContext& ctx, const Args&) {
  say(ctx.output, "Data:    " + path_to_utf8(ctx.home));

  const auto built_in = static_cast<std::size_t>(
      std::count_if(ctx.recipes.begin(), ctx.recipes.end(), [](const Recipe& r) { return r.built_in; }));
  const std::size_t added = ctx.recipes.size() - built_in;
  std::string recipes = "Recipes: " + std::to_string(built_in) + " built in";
  if (added > 0) recipes += ", " + std::to_string(added) + " added on this computer";
  say(ctx.output, recipes);

  auto choice = choose_runtime(ctx.runner);
  if (!choice) return std::unexpected(choice.error());

  const std::string command(choice->runtime.command);
  auto run = ctx.runner.run_captured(command, {"--version"}, std::chrono::seconds(15));
  const std::string version = run ? std::string(trim_white_space(run->stdout_text)) : std::string();
  say(ctx.output, "Runtime: " + std::string(choice->runtime.display_name) + " (" + version + ")");
  return {};
}

}  // namespace zelk
