#include "zelk/runtime_root.h"

#include <chrono>

#include "unicode.h"

namespace zelk {

namespace {

constexpr std::chrono::seconds info_limit{15};

/// True when the runtime runs as root, false when rootless, none when it does not say.
std::optional<bool> runs_as_root(const CommandContext& ctx, const ContainerRuntime& runtime) {
  const std::string rt(runtime.command);
  if (rt == "podman") {
    auto run = ctx.runner.run_captured(rt, {"info", "--format", "{{.Host.Security.Rootless}}"}, info_limit);
    if (!run || !run->success()) return std::nullopt;
    const std::string_view answer = trim_white_space(run->stdout_text);
    if (answer == "false") return true;
    if (answer == "true") return false;
    return std::nullopt;
  }
  // A rootless Docker daemon names "rootless" among its security options.
  auto run = ctx.runner.run_captured(rt, {"info", "--format", "{{.SecurityOptions}}"}, info_limit);
  if (!run || !run->success() || trim_white_space(run->stdout_text).empty()) return std::nullopt;
  return run->stdout_text.find("name=rootless") == std::string::npos;
}

}  // namespace

std::optional<std::string> root_runtime_notice(const CommandContext& ctx, const ContainerRuntime& runtime) {
  if (ctx.platform != "linux") return std::nullopt;
  const std::optional<bool> root = runs_as_root(ctx, runtime);
  if (!root || !*root) return std::nullopt;
  const std::string name(runtime.display_name);
  const std::string how =
      runtime.command == "podman"
          ? "run Zelk as your own user, not as root or with sudo: Podman then runs rootless, as you."
          : "run Docker rootless (see https://docs.docker.com/engine/security/rootless/), or use Podman as your "
            "own user.";
  return name + " runs as root here. Then every app's container, helpers included, answers every user of this "
                "computer at its address on the runtime's network, with what it holds (its data and secrets).\n"
                "To keep the apps to yourself, " + how;
}

}  // namespace zelk
