#include "zelk/commands.h"

namespace zelk {

CommandResult cmd_stop(CommandContext& ctx, const Args& args) {
  if (args.size() >= 2 && args[1] == "--all") return std::unexpected(not_built_yet("stop"));
  auto app = app_argument(args, ctx.recipes, args[0]);
  if (!app) return std::unexpected(app.error());
  return std::unexpected(not_built_yet("stop"));
}

}  // namespace zelk
