#include "app_lock.h"
#include "envfile.h"
#include "runtime.h"
#include "zelk/app_containers.h"
#include "zelk/commands.h"

namespace zelk {

namespace {

std::vector<std::string> running_containers(const Recipe& recipe, const ContainerMap& containers) {
  std::vector<std::string> running;
  for (const std::string& name : listed_containers(recipe, containers)) {
    if (counts_as_running(containers.at(name).state)) running.push_back(name);
  }
  return running;
}

CommandResult stop_containers(CommandContext& ctx, const ContainerRuntime& runtime,
                              const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (auto stopped = run_checked(ctx.runner, std::string(runtime.command), {"stop", name}); !stopped) {
      return std::unexpected(stopped.error());
    }
  }
  return {};
}

// Every marker goes first: whatever happens after, no app comes back at the next "resume".
// Each app is locked only around its own work, so no command on one app holds up the others.
CommandResult stop_all(CommandContext& ctx) {
  for (const Recipe& recipe : ctx.recipes) {
    auto held = lock_app(ctx, recipe);
    if (!held) return std::unexpected(held.error());
    if (auto kept = delete_running_marker(ctx.home, recipe)) say(ctx.output, *kept);
  }
  auto choice = choose_runtime(ctx.runner);
  if (!choice) {
    say(ctx.output, "No container runtime answers, so no app is running.");
    return {};
  }
  ContainerMap containers = std::move(choice->containers);
  std::string stopped;
  std::size_t stopped_count = 0;
  for (const Recipe& recipe : ctx.recipes) {
    auto held = lock_app(ctx, recipe);
    if (!held) return std::unexpected(held.error());
    // A command that ran on the app meanwhile may have started it: its marker and the
    // containers are looked at again.
    if (held->waited()) {
      if (auto kept = delete_running_marker(ctx.home, recipe)) say(ctx.output, *kept);
      if (auto listed = list_containers(ctx.runner, choice->runtime.command)) containers = std::move(*listed);
    }
    const std::vector<std::string> running = running_containers(recipe, containers);
    if (running.empty()) continue;
    if (auto done = stop_containers(ctx, choice->runtime, running); !done) return done;
    if (!stopped.empty()) stopped += ", ";
    stopped += recipe.name;
    ++stopped_count;
  }
  if (stopped.empty()) {
    say(ctx.output, "No app was running.");
  } else {
    say(ctx.output, "Stopped: " + stopped + (stopped_count == 1 ? ". Its data stays." : ". Their data stays."));
  }
  return {};
}

}  // namespace

CommandResult cmd_stop(CommandContext& ctx, const Args& args) {
  if (args.size() >= 2 && args[1] == "--all") return stop_all(ctx);
  auto app = app_argument(args, ctx.recipes, args[0]);
  if (!app) return std::unexpected(app.error());
  const Recipe& recipe = **app;
  auto held = lock_app(ctx, recipe);
  if (!held) return std::unexpected(held.error());
  auto choice = choose_runtime(ctx.runner);
  if (!choice) return std::unexpected(choice.error());
  if (auto kept = delete_running_marker(ctx.home, recipe)) say(ctx.output, *kept);
  if (listed_containers(recipe, choice->containers).empty()) {
    return std::unexpected(recipe.name + " is not installed.");
  }
  const std::vector<std::string> running = running_containers(recipe, choice->containers);
  if (running.empty()) {
    say(ctx.output, recipe.name + " is already stopped.");
    return {};
  }
  if (auto done = stop_containers(ctx, choice->runtime, running); !done) return done;
  say(ctx.output, recipe.name + " is stopped.");
  return {};
}

}  // namespace zelk
