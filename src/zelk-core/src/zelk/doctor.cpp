#include <algorithm>
#include <chrono>

#include "platform.h"
#include "runtime.h"
#include "unicode.h"
#include "zelk/commands.h"
#include "zelk/runtime_root.h"

namespace zelk {

CommandResult cmd_doctor(CommandContext& ctx, const Args&) {
  say(ctx.output, "Data:    " + path_to_utf8(ctx.home));

  const auto built_in = static_cast<std::size_t>(
      std::count_if(ctx.recipes.begin(), ctx.recipes.end(), [](const Recipe& r) { return r.built_in; }));
  const std::size_t added = ctx.recipes.size() - built_in;
  std::string recipes = "Recipes: " + std::to_string(built_in) + " built in";
  if (added > 0) recipes += ", " + std::to_string(added) + " added on this computer";
  say(ctx.output, recipes);

  auto choice = choose_runtime(ctx.runner);
  if (!choice) return std::unexpected(choice.error());

  const std::string command(choice->runtime.command);
  std::string version;
  if (command == "docker") {
    // "docker --version" names the client; the apps run in the server, which may be older.
    auto server = ctx.runner.run_captured(command, {"version", "--format", "{{.Server.Version}}"},
                                          std::chrono::seconds(15));
    if (server && server->success() && !trim_white_space(server->stdout_text).empty()) {
      version = "Docker Engine " + std::string(trim_white_space(server->stdout_text));
    }
  }
  if (version.empty()) {
    auto run = ctx.runner.run_captured(command, {"--version"}, std::chrono::seconds(15));
    version = run ? std::string(trim_white_space(run->stdout_text)) : std::string();
  }
  say(ctx.output, "Runtime: " + std::string(choice->runtime.display_name) + " (" + version + ")");

  if (command != "podman") {
    auto podman = list_containers(ctx.runner, "podman");
    if (!podman && podman.error().kind != ContainerListError::Kind::NotInstalled) {
      const std::string why = podman.error().kind == ContainerListError::Kind::NoAnswer
                                  ? " (" + podman.error().text + ")"
                                  : podman.error().text;
      say(ctx.output, "Podman:  installed, but it does not answer, and backups need it." +
                          (uses_podman_machine(ctx.platform) ? runtime_start_hint("podman") : std::string()) + why);
    }
  }
  if (auto notice = root_runtime_notice(ctx, choice->runtime)) say(ctx.output, *notice);
  return {};
}

}  // namespace zelk
