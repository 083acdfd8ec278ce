#include "update.h"
#include "zelk/commands.h"

namespace zelk {

CommandResult cmd_update(CommandContext& ctx, const Args& args) {
  if (args.size() >= 2 && args[1] != "look") {
    return std::unexpected("Usage: zelk update, or: zelk update look");
  }
  const bool look = args.size() >= 2;
  const std::string own(zelk_version);

  auto offer = check_for_update(ctx.runner, zelk_version);
  if (!offer) return std::unexpected(offer.error());
  if (!*offer) {
    say(ctx.output, "This Zelk is version " + own + ", the newest.");
    return {};
  }
  say(ctx.output, "Version " + (*offer)->version + " is out. This Zelk is version " + own + ".");
  if (look) {
    say(ctx.output, "\"zelk update\" fetches it and puts it in place. The apps keep running.");
    return {};
  }

  auto installer = download_update(ctx.home, ctx.runner, **offer);
  if (!installer) return std::unexpected(installer.error());
  say(ctx.output, "Fetched and checked: size and SHA-256 are the ones the website names.");

  // The console never asks the installer to bring the window program back.
  if (auto started = launch_installer(*installer, false); !started) {
    return std::unexpected(started.error());
  }
  say(ctx.output, ctx.platform == "windows"
                      ? "The installer runs now, without a window, and needs a few seconds. The apps keep running."
                      : "The fetched program runs now and needs a few seconds. The apps keep running.");
  return {};
}

}  // namespace zelk
