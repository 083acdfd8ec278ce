#include "apps_read.h"

#include <mutex>
#include <optional>
#include <utility>

#include "side_by_side.h"
#include "zelk/context.h"

namespace zelk {

std::vector<AppState> app_states(const CommandContext& ctx, std::span<const Recipe* const> recipes,
                                 const ContainerMap& containers) {
  std::vector<AppState> states(recipes.size());
  {
    SideBySide probes(probes_at_once);
    for (std::size_t index = 0; index < recipes.size(); ++index) {
      if (std::optional<AppState> known = state_of_containers(*recipes[index], containers)) {
        states[index] = std::move(*known);
      } else {
        // Each task writes only its own app's state; the wait makes every write seen here.
        probes.add(
            [&ctx, &states, &recipes, index] { states[index] = state_of_status(probe_app(ctx, *recipes[index])); },
            false);
      }
    }
    probes.wait();
  }
  return states;
}

std::vector<AppState> app_states(const CommandContext& ctx, std::span<const Recipe> recipes,
                                 const ContainerMap& containers) {
  std::vector<const Recipe*> each;
  each.reserve(recipes.size());
  for (const Recipe& recipe : recipes) each.push_back(&recipe);
  return app_states(ctx, each, containers);
}

std::expected<AppsRead, std::string> read_apps(const CommandContext& ctx) {
  const std::span<const Recipe> recipes = ctx.recipes;
  // A probe started while a runtime's list arrives, with the runtime whose list showed the app's
  // containers running. Its status is written by its task alone and read after the wait.
  struct Early {
    std::string runtime;
    std::optional<std::uint16_t> status;
  };
  std::vector<Early> early(recipes.size());
  std::vector<std::optional<std::uint16_t>> late(recipes.size());
  std::mutex early_mutex;
  SideBySide probes(probes_at_once);

  const ContainersSeenFn seen = [&](std::string_view command, const ContainerMap& so_far) {
    const std::lock_guard lock(early_mutex);
    for (std::size_t index = 0; index < recipes.size(); ++index) {
      if (!early[index].runtime.empty() || state_of_containers(recipes[index], so_far)) continue;
      early[index].runtime = std::string(command);
      probes.add([&ctx, &early, recipes, index] { early[index].status = probe_app(ctx, recipes[index]); }, true);
    }
  };
  auto choice = choose_runtime(ctx.runner, seen);
  if (!choice) {
    probes.wait();
    return std::unexpected(choice.error());
  }

  std::vector<AppState> states(recipes.size());
  std::vector<bool> from_early(recipes.size(), false);
  {
    const std::lock_guard lock(early_mutex);
    for (std::size_t index = 0; index < recipes.size(); ++index) {
      if (std::optional<AppState> known = state_of_containers(recipes[index], choice->containers)) {
        states[index] = std::move(*known);
      } else if (early[index].runtime == choice->runtime.command) {
        from_early[index] = true;
      } else {
        probes.add([&ctx, &late, recipes, index] { late[index] = probe_app(ctx, recipes[index]); }, false);
      }
    }
  }
  probes.wait();
  for (std::size_t index = 0; index < recipes.size(); ++index) {
    if (state_of_containers(recipes[index], choice->containers)) continue;
    states[index] = state_of_status(from_early[index] ? early[index].status : late[index]);
  }
  return AppsRead{std::move(*choice), std::move(states)};
}

}  // namespace zelk
