#include "apps_start.h"
#include "envfile.h"
#include "runtime.h"
#include "zelk/commands.h"

namespace zelk {

// Markers stay whatever happens: an app that could not come back is tried again next time.
CommandResult cmd_resume(CommandContext& ctx, const Args&) {
  const std::vector<const Recipe*> left_running = next_left_running(ctx.home, ctx.recipes);
  if (left_running.empty()) {
    say(ctx.output, "No app was left running, so there is nothing to bring back.");
    return {};
  }
  auto choice = ensure_runtime(ctx);
  if (!choice) return std::unexpected(choice.error());

  std::string failed;
  for (const Recipe* recipe : left_running) {
    if (app_state(ctx, *recipe, choice->containers).kind == AppState::Kind::Ready) continue;
    auto started = start_app_with_used(ctx, choice->runtime, *recipe, choice->containers);
    if (started) continue;
    say(ctx.output, started.error());
    if (!failed.empty()) failed += ", ";
    failed += recipe->name;
  }
  if (!failed.empty()) return std::unexpected("Not brought back: " + failed + ".");
  return {};
}

}  // namespace zelk
