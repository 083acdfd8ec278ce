#include "apps_read.h"
#include "envfile.h"
#include "runtime.h"
#include "zelk/commands.h"

namespace zelk {

namespace {

constexpr std::size_t id_width = 12;
constexpr std::size_t state_width = 14;

/// The text padded with blanks on the right to `width` characters; never cut.
std::string padded(std::string_view text, std::size_t width) {
  std::size_t characters = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
  }
  std::string line(text);
  if (characters < width) line.append(width - characters, ' ');
  return line;
}

std::string state_word(const AppState& state) {
  switch (state.kind) {
    case AppState::Kind::NotInstalled: return "not installed";
    case AppState::Kind::Starting: return "starting";
    case AppState::Kind::Ready: return "ready";
    case AppState::Kind::Unknown: return "unknown";
    case AppState::Kind::State: break;
  }
  return state.text;
}

}  // namespace

CommandResult cmd_list(CommandContext& ctx, const Args&) {
  const auto read = read_apps(ctx);
  say(ctx.output, padded("APP", id_width) + " " + padded("STATE", state_width) + " ADDRESS");
  for (std::size_t index = 0; index < ctx.recipes.size(); ++index) {
    const Recipe& recipe = ctx.recipes[index];
    const std::string state = read ? state_word(read->states[index]) : std::string("unknown");
    say(ctx.output, padded(recipe.id, id_width) + " " + padded(state, state_width) + " " +
                        app_address(ctx.home, recipe));
  }
  if (!read) say(ctx.output, "\n" + read.error());
  return {};
}

}  // namespace zelk
