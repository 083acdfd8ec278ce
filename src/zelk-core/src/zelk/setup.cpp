#include "platform.h"
#include "runtime.h"
#include "zelk/commands.h"
#include "zelk/runtime_root.h"

namespace zelk {

namespace {

constexpr std::string_view podman_website = "https://podman.io";

const std::vector<std::string> winget_args{
    "install", "--exact", "--id", "RedHat.Podman", "--accept-source-agreements",
    "--accept-package-agreements"};

bool podman_installed(const CommandRunner& runner) {
  auto listed = list_containers(runner, "podman");
  return listed || listed.error().kind != ContainerListError::Kind::NotInstalled;
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) {
    if (!text.empty()) text += ' ';
    text += word;
  }
  return text;
}

/// Installs Podman with winget; success means Podman's program is now found.
CommandResult install_podman_with_winget(CommandContext& ctx) {
  say(ctx.output,
      "Installing Podman. This accepts the terms of the installer's package lists and of Podman "
      "for you. Your computer may ask for permission ...");
  auto run = ctx.runner.run_attached("winget", winget_args, {}, AttachMode::Interactive);
  if (!run) {
    return std::unexpected("\"winget\" is not on this computer. Install Podman from " +
                           std::string(podman_website) + " and run: zelk setup");
  }
  if (run->exit_code == 0) {
    if (!podman_installed(ctx.runner)) {
      return std::unexpected(
          "Podman was installed but is not found yet. Open a new terminal and run: zelk setup");
    }
    return {};
  }
  return std::unexpected("Podman could not be installed: \"winget " + joined(winget_args) +
                         "\" failed; see the output above." + check_wsl(ctx));
}

}  // namespace

CommandResult cmd_setup(CommandContext& ctx, const Args&) {
  if (auto choice = choose_runtime(ctx.runner)) {
    say(ctx.output, std::string(choice->runtime.display_name) + " is running. Nothing to set up.");
    if (auto notice = root_runtime_notice(ctx, choice->runtime)) say(ctx.output, *notice);
    return {};
  }

  if (!podman_installed(ctx.runner)) {
    if (ctx.platform == "windows") {
      if (auto installed = install_podman_with_winget(ctx); !installed) return installed;
    } else if (ctx.platform == "macos") {
      return std::unexpected("Podman is not installed. Install it with its installer from " +
                             std::string(podman_website) + " (or: brew install podman), then run: zelk setup");
    } else {
      return std::unexpected(
          "Podman is not installed. Install it with your system's package manager (Ubuntu and "
          "Debian: sudo apt install podman; Fedora: sudo dnf install podman), then run: zelk setup");
    }
  }

  if (uses_podman_machine(ctx.platform)) {
    const ProgressFn progress = [&ctx](std::string_view text) { say(ctx.output, text); };
    if (auto started = start_podman_machine(ctx.runner, progress, true); !started) {
      return std::unexpected(started.error() + check_wsl(ctx));
    }
  }

  auto choice = choose_runtime(ctx.runner);
  if (!choice) return std::unexpected(choice.error());
  const std::string first_id = ctx.recipes.empty() ? std::string() : ctx.recipes.front().id;
  say(ctx.output, std::string(choice->runtime.display_name) +
                      " is ready. Start an app with: zelk start " + first_id);
  if (auto notice = root_runtime_notice(ctx, choice->runtime)) say(ctx.output, *notice);
  return {};
}

}  // namespace zelk
