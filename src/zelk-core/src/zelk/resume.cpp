#include "app_lock.h"
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
  ContainerMap containers = std::move(choice->containers);
  std::string failed;
  bool started_one = false;
  for (std::size_t index = 0; index < left_running.size(); ++index) {
    const Recipe* recipe = left_running[index];
    // Each app is locked only around its own start, so a command on another app waits for none.
    auto held = lock_app_and_used(ctx, *recipe);
    if (!held) return std::unexpected(held.error());
    // A stop since the marker was read leaves the app stopped. Another command worked on the
    // app while this one waited: its containers are read again.
    if (!running_marker_exists(ctx.home, recipe->id)) continue;
    if (held->waited()) {
      if (auto listed = list_containers(ctx.runner, choice->runtime.command)) containers = std::move(*listed);
    }
    AppState state = states[index];
    if (held->waited() || (started_one && state.kind != AppState::Kind::Ready)) {
      state = app_state(ctx, *recipe, containers);
    }
    if (state.kind == AppState::Kind::Ready) continue;
    started_one = true;
    auto started = start_app_with_used(ctx, choice->runtime, *recipe, containers);
    // A start may make or start the containers of apps further on, as apps that it uses: they
    // are read again, so that such an app is not made a second time.
    if (index + 1 < left_running.size()) {
      if (auto listed = list_containers(ctx.runner, choice->runtime.command)) containers = std::move(*listed);
    }
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
