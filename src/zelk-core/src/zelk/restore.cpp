#include "zelk/commands.h"

namespace zelk {

CommandResult cmd_restore(CommandContext& ctx, const Args& args) {
  auto app = app_argument(args, ctx.recipes, args[0]);
  if (!app) return std::unexpected(app.error());
  return std::unexpected(not_built_yet("restore"));
}

}  // namespace zelk
