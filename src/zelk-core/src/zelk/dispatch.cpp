#include <algorithm>
#include <array>
#include <functional>
#include <optional>

#include "apps.h"
#include "unicode.h"
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
  /// The most words the command reads, its own word included; 0: any number.
  std::size_t most_words = 0;
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
    {{"list", "ls", "status"}, cmd_list, 1},
    {{"start", "install"}, cmd_start, 2},
    {{"open"}, cmd_open, 2},
    {{"stop"}, cmd_stop, 2},
    {{"remove"}, cmd_remove, 2},
    {{"resume"}, cmd_resume, 1},
    {{"logs"}, cmd_logs, 3},
    {{"model"}, cmd_model, 2},
    {{"backup"}, cmd_backup, 3},
    {{"restore"}, usage_checked_restore, 3},
    {{"doctor"}, cmd_doctor, 1},
    {{"setup"}, cmd_setup, 1},
    {{"update"}, usage_checked_update, 2},
    {{"check"}, usage_checked_check, 2},
    {{"add"}, usage_checked_add, 2},
    {{"forget"}, cmd_forget, 2},
    {{"shelf"}, usage_checked_shelf, 3},
    {{"help", "--help", "-h"}, help},
    {{"version", "--version"}, version, 1},
}};

/// The most words a command reads: "remove --everything" takes "--yes" after it.
std::size_t most_words(const CommandGroup& group, const Args& args) {
  if (args.front() == "remove" && args.size() >= 2 && args[1] == "--everything") return 3;
  return group.most_words;
}

std::string lower_case(std::string_view word) {
  std::string lower(word);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

/// The edits (a letter left out, put in, changed, or two neighbours swapped) between two words.
std::size_t edits_between(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

/// The command word closest to a mistyped one, when it is close enough to be what was meant.
std::optional<std::string_view> meant_word(std::string_view typed) {
  const std::string word = lower_case(typed);
  const std::size_t allowed = word.size() <= 3 ? 1 : 2;
  std::optional<std::string_view> best;
  std::size_t best_edits = allowed + 1;
  for (const CommandGroup& group : command_table) {
    for (std::string_view candidate : group.words) {
      if (candidate.empty()) continue;
      const std::size_t edits = edits_between(word, candidate);
      if (edits < best_edits && edits < word.size()) {
        best = candidate;
        best_edits = edits;
      }
    }
  }
  return best;
}

}  // namespace

std::string usage_line(std::string_view word) {
  const std::string typed(word);
  if (word == "stop") return "Usage: zelk stop <app>, or: zelk stop --all";
  if (word == "remove") return "Usage: zelk remove <app>, or: zelk remove --everything";
  if (word == "logs") return "Usage: zelk logs <app> [helper]";
  if (word == "backup") return "Usage: zelk backup <app> [folder]";
  if (word == "restore") return "Usage: zelk restore <app> <folder>";
  if (word == "model") return "Usage: zelk model [name]";
  if (word == "check") return "Usage: zelk check <file>";
  if (word == "add") return "Usage: zelk add <file>";
  if (word == "update") return "Usage: zelk update, or: zelk update look";
  if (word == "shelf") return "Usage: zelk shelf | zelk shelf add <address> | zelk shelf forget <address>";
  if (word == "start" || word == "install" || word == "open" || word == "forget") {
    return "Usage: zelk " + typed + " <app>";
  }
  return "Usage: zelk " + typed;
}

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
  if (args.size() < 2) return std::unexpected(usage_line(word));
  return find_app(recipes, args[1]);
}

CommandResult run_command(CommandContext& ctx, const Args& args) {
  static const Args help_only{"help"};
  const Args& effective = args.empty() ? help_only : args;
  const std::string& word = effective.front();
  for (const CommandGroup& group : command_table) {
    for (std::string_view candidate : group.words) {
      if (candidate.empty() || candidate != word) continue;
      // A word more than the command reads is a slip the user should hear of, not one to drop.
      const std::size_t most = most_words(group, effective);
      if (most != 0 && effective.size() > most) {
        const std::string extra = "\"" + visible_text(effective[most]) + "\"";
        return std::unexpected((effective.size() == most + 1 ? extra + " is one word too many. "
                                                              : extra + " and the words after it are too many. ") +
                               usage_line(word));
      }
      return group.body(ctx, effective);
    }
  }
  std::string meant;
  if (const std::optional<std::string_view> closest = meant_word(word)) {
    meant = " Did you mean \"" + std::string(*closest) + "\"?";
  }
  return std::unexpected("Unknown command \"" + visible_text(word) + "\"." + meant + "\n\n" +
                         std::string(usage_text));
}

}  // namespace zelk
