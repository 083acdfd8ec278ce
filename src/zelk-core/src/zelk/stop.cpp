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
CommandResult stop_all(CommandContext& ctx) {
  for (const Recipe& recipe : ctx.recipes) delete_running_marker(ctx.home, recipe.id);
  auto choice = choose_runtime(ctx.runner);
  if (!choice) {
    say(ctx.output, "No container runtime answers, so no app is running.");
    return {};
  }
  std::string stopped;
  std::size_t stopped_count = 0;
  for (const Recipe& recipe : ctx.recipes) {
    const std::vector<std::string> running = running_containers(recipe, choice->containers);
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
  auto choice = choose_runtime(ctx.runner);
  if (!choice) return std::unexpected(choice.error());
  delete_running_marker(ctx.home, recipe.id);
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
