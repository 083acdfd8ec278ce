#include "app_lock.h"
#include "apps_start.h"
#include "runtime.h"
#include "zelk/commands.h"

namespace zelk {

// "start" and "install" are one command: both take the app from wherever it is to ready.
CommandResult cmd_start(CommandContext& ctx, const Args& args) {
  auto app = app_argument(args, ctx.recipes, args[0]);
  if (!app) return std::unexpected(app.error());
  auto held = lock_app_and_used(ctx, **app);
  if (!held) return std::unexpected(held.error());
  auto choice = ensure_runtime(ctx);
  if (!choice) return std::unexpected(choice.error());
  auto started = start_app_with_used(ctx, choice->runtime, **app, choice->containers);
  if (!started) return std::unexpected(started.error());
  return {};
}

}  // namespace zelk
