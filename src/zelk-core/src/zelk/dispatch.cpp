#include <array>
#include <functional>

#include "apps.h"
#include "zelk/commands.h"

namespace zelk {

const std::string_view usage_text =
    "zelk - run curated containers like apps\n"
    "\n"
    "  zelk list            apps and their state\n"
    "  zelk start <app>     install if needed, start, wait until the app answers\n"
    "  zelk open <app>      start if needed, then open the app in the browser\n"
    "  zelk stop <app>      stop the app, keep everything (--all: every app)\n"
    "  zelk remove <app>    remove the container, keep data and settings\n"
    "                       (zelk remove --everything: every app, all its data and the data folder)\n"
    "  zelk resume          start again what was running before a restart\n"
    "  zelk logs <app>      last 200 log lines\n"
    "  zelk model [name]    fetch a language model into Ollama (llama3.2:3b if none is named)\n"
    "  zelk backup <app> [folder]    copy the app's data and settings into a folder\n"
    "  zelk restore <app> <folder>   put a backup back, into an app without data\n"
    "  zelk doctor          check the container runtime\n"
    "  zelk setup           install Podman if it is missing and get it running\n"
    "  zelk update          fetch a newer Zelk if there is one; the apps keep running\n"
    "                       (zelk update look: only says whether there is one)\n"
    "  zelk check <file>    read an app's recipe and say what it would run\n"
    "  zelk add <file>      take a recipe into the list of apps\n"
    "  zelk forget <app>    take an added app out of the list, keep its data\n"
    "  zelk shelf           fetch the shelves you named and list their recipes\n"
    "  zelk shelf add <address>      name a shelf: a list of recipes on the web\n"
    "  zelk shelf forget <address>   take a shelf out, keep the apps added from it\n"
    "\n"
    "  <file> can be a web address that starts with https://";

namespace {

using Body = CommandResult (*)(CommandContext&, const Args&);

struct CommandGroup {
  std::array<std::string_view, 3> words;
  Body body;
};

CommandResult help(CommandContext& ctx, const Args&) {
  say(ctx.output, usage_text);
  return {};
}

CommandResult version(CommandContext& ctx, const Args&) {
  say(ctx.output, "zelk " + std::string(zelk_version));
  return {};
}

CommandResult usage_checked_restore(CommandContext& ctx, const Args& args) {
  if (args.size() < 3) return std::unexpected("Usage: zelk restore <app> <folder>");
  return cmd_restore(ctx, args);
}

CommandResult usage_checked_check(CommandContext& ctx, const Args& args) {
  if (args.size() < 2) return std::unexpected("Usage: zelk check <file>");
  return cmd_check(ctx, args);
}

CommandResult usage_checked_add(CommandContext& ctx, const Args& args) {
  if (args.size() < 2) return std::unexpected("Usage: zelk add <file>");
  return cmd_add(ctx, args);
}

CommandResult usage_checked_update(CommandContext& ctx, const Args& args) {
  if (args.size() >= 2 && args[1] != "look") {
    return std::unexpected("Usage: zelk update, or: zelk update look");
  }
  return cmd_update(ctx, args);
}

CommandResult usage_checked_shelf(CommandContext& ctx, const Args& args) {
  if (args.size() == 2 || (args.size() > 2 && args[1] != "add" && args[1] != "forget")) {
    return std::unexpected(
        "Usage: zelk shelf | zelk shelf add <address> | zelk shelf forget <address>");
  }
  return cmd_shelf(ctx, args);
}

// Compared in this order; the first group holding the word wins.
const std::array<CommandGroup, 19> command_table{{
    {{"list", "ls", "status"}, cmd_list},
    {{"start", "install"}, cmd_start},
    {{"open"}, cmd_open},
    {{"stop"}, cmd_stop},
    {{"remove"}, cmd_remove},
    {{"resume"}, cmd_resume},
    {{"logs"}, cmd_logs},
    {{"model"}, cmd_model},
    {{"backup"}, cmd_backup},
    {{"restore"}, usage_checked_restore},
    {{"doctor"}, cmd_doctor},
    {{"setup"}, cmd_setup},
    {{"update"}, usage_checked_update},
    {{"check"}, usage_checked_check},
    {{"add"}, usage_checked_add},
    {{"forget"}, cmd_forget},
    {{"shelf"}, usage_checked_shelf},
    {{"help", "--help", "-h"}, help},
    {{"version", "--version"}, version},
}};

}  // namespace

void watch_interrupts(const CommandContext& ctx) {
  if (ctx.interrupts != nullptr) ctx.interrupts->watch();
}

bool stop_requested(const CommandContext& ctx) {
  return ctx.interrupts != nullptr && ctx.interrupts->requested();
}

void say(OutputWriter& output, std::string_view text) {
  std::string line;
  line.reserve(text.size() + 1);
  line.append(text);
  line.push_back('\n');
  output.write(line);
}

std::string not_built_yet(std::string_view word) {
  return std::string(word) + " is not built yet.";
}

std::expected<const Recipe*, std::string> app_argument(const Args& args,
                                                       std::span<const Recipe> recipes,
                                                       std::string_view word) {
  if (args.size() < 2) return std::unexpected("Usage: zelk " + std::string(word) + " <app>");
  return find_app(recipes, args[1]);
}

CommandResult run_command(CommandContext& ctx, const Args& args) {
  static const Args help_only{"help"};
  const Args& effective = args.empty() ? help_only : args;
  const std::string& word = effective.front();
  for (const CommandGroup& group : command_table) {
    for (std::string_view candidate : group.words) {
      if (!candidate.empty() && candidate == word) return group.body(ctx, effective);
    }
  }
  return std::unexpected("Unknown command \"" + word + "\".\n\n" + std::string(usage_text));
}

}  // namespace zelk
