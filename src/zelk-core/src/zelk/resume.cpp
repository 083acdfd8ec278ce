#include "apps_read.h"
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

  const std::vector<AppState> states = app_states(ctx, left_running, choice->containers);
  std::string failed;
  bool started_one = false;
  for (std::size_t index = 0; index < left_running.size(); ++index) {
    const Recipe* recipe = left_running[index];
    // A start takes a while and may bring up this app too, as one that an app uses: after one,
    // an app that was not ready is looked at again.
    AppState state = states[index];
    if (started_one && state.kind != AppState::Kind::Ready) state = app_state(ctx, *recipe, choice->containers);
    if (state.kind == AppState::Kind::Ready) continue;
    started_one = true;
    auto started = start_app_with_used(ctx, choice->runtime, *recipe, choice->containers);
    if (started) continue;
    say(ctx.output, started.error());
    if (!failed.empty()) failed += ", ";
    failed += recipe->name;
  }
  if (!failed.empty()) return std::unexpected("Not brought back: " + failed + ".");
  if (!started_one) say(ctx.output, "Every app that was left running runs already, so there is nothing to bring back.");
  return {};
}

}  // namespace zelk
