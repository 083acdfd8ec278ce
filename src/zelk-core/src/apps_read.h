#pragma once
/// One read of the state of many apps: the apps whose containers all run are probed side by
/// side, so that apps that answer late cost about one probe, not one per app. Keeps no state
/// between reads; any thread.

#include <cstddef>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "envfile.h"
#include "recipe.h"
#include "runtime.h"

namespace zelk {

struct CommandContext;

/// The most probes one read of many states has under way at once.
inline constexpr std::size_t probes_at_once = 8;

/// The state of each app, in the order given, exactly as app_state gives it: one read for many
/// apps. The apps whose containers all run are probed side by side, at most probes_at_once at a
/// time, so a read with apps that answer late costs about one probe, not one per app. Blocks
/// until every probe has ended; calls ctx.probe from several threads at once, so the probe must
/// allow that.
std::vector<AppState> app_states(const CommandContext& ctx, std::span<const Recipe* const> recipes,
                                 const ContainerMap& containers);
std::vector<AppState> app_states(const CommandContext& ctx, std::span<const Recipe> recipes,
                                 const ContainerMap& containers);

/// What one read of the apps found: the runtime that answered, with its containers, and the
/// state of every app of the context, in catalogue order.
struct AppsRead {
  RuntimeChoice choice;
  std::vector<AppState> states;
};

/// Chooses the runtime and reads the state of every app of the context, as choose_runtime and
/// then app_states give them; but an app's probe starts as soon as the runtime's list shows all
/// of its containers running, while the list call is still ending. Gives choose_runtime's
/// message when no runtime answers. Calls ctx.probe from several threads at once.
std::expected<AppsRead, std::string> read_apps(const CommandContext& ctx);

}  // namespace zelk
