#pragma once
/// The command layer: the dispatcher both programs call, and one body per command.

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "zelk/context.h"

namespace zelk {

using Args = std::vector<std::string>;
using CommandResult = std::expected<void, std::string>;

/// The program's version, shown by "version" and compared by the update commands.
inline constexpr std::string_view zelk_version = "0.2.0-alpha.15";

/// The usage text: 25 lines joined by "\n", without a line end after the last.
extern const std::string_view usage_text;

/// Runs the command named by args[0] ("help" when there is none).
CommandResult run_command(CommandContext& ctx, const Args& args);

/// The app a command names in args[1], or "Usage: zelk <word> <app>" when it names none, or
/// the unknown-app message.
std::expected<const Recipe*, std::string> app_argument(const Args& args,
                                                       std::span<const Recipe> recipes,
                                                       std::string_view word);

/// "Usage: zelk <word> ..." with the words the command takes, its optional ones in brackets.
std::string usage_line(std::string_view word);

/// The stand-in failure of a command body that is not written yet.
std::string not_built_yet(std::string_view word);

// Command bodies, one file each. `args` holds the whole argument list, command word first.
CommandResult cmd_list(CommandContext& ctx, const Args& args);
CommandResult cmd_start(CommandContext& ctx, const Args& args);
CommandResult cmd_open(CommandContext& ctx, const Args& args);
CommandResult cmd_stop(CommandContext& ctx, const Args& args);
CommandResult cmd_remove(CommandContext& ctx, const Args& args);
CommandResult cmd_resume(CommandContext& ctx, const Args& args);
CommandResult cmd_logs(CommandContext& ctx, const Args& args);
CommandResult cmd_model(CommandContext& ctx, const Args& args);
CommandResult cmd_backup(CommandContext& ctx, const Args& args);
CommandResult cmd_restore(CommandContext& ctx, const Args& args);
CommandResult cmd_doctor(CommandContext& ctx, const Args& args);
CommandResult cmd_setup(CommandContext& ctx, const Args& args);
CommandResult cmd_update(CommandContext& ctx, const Args& args);
CommandResult cmd_check(CommandContext& ctx, const Args& args);
CommandResult cmd_add(CommandContext& ctx, const Args& args);
CommandResult cmd_forget(CommandContext& ctx, const Args& args);
CommandResult cmd_shelf(CommandContext& ctx, const Args& args);

}  // namespace zelk
