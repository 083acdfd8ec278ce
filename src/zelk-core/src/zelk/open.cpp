#include "app_lock.h"
#include "apps_start.h"
#include "envfile.h"
#include "runtime.h"
#include "zelk/commands.h"

namespace zelk {

// An app that already answers opens at once; any other is started first.
CommandResult cmd_open(CommandContext& ctx, const Args& args) {
  auto app = app_argument(args, ctx.recipes, args[0]);
  if (!app) return std::unexpected(app.error());
  const Recipe& recipe = **app;
  auto held = lock_app_and_used(ctx, recipe);
  if (!held) return std::unexpected(held.error());
  auto choice = ensure_runtime(ctx);
  if (!choice) return std::unexpected(choice.error());

  std::uint16_t port = 0;
  if (app_state(ctx, recipe, choice->containers).kind == AppState::Kind::Ready) {
    port = app_port(ctx.home, recipe);
  } else {
    auto started = start_app_with_used(ctx, choice->runtime, recipe, choice->containers);
    if (!started) return std::unexpected(started.error());
    port = *started;
  }

  const std::string address = "http://127.0.0.1:" + std::to_string(port) + recipe.open;
  if (auto opened = ctx.open_in_browser(address); !opened) {
    return std::unexpected(address + " could not be opened in the browser: " + opened.error() +
                           ". Open that address in your browser yourself.");
  }
  say(ctx.output, "Opened " + address);
  return {};
}

}  // namespace zelk
