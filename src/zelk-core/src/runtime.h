#pragma once
/// The container runtime: which one answers (Podman first, Docker second), the containers it
/// knows, the runs that must succeed with the messages they give when they do not, and the
/// steps that bring Podman's machine up. Nothing here keeps state; every function may be
/// called from any thread, each call starting its own runtime processes.

#include <array>
#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "runner.h"

namespace zelk {

struct CommandContext;

/// One entry of the runtime table: the program name given to the runner and the name
/// messages use.
struct ContainerRuntime {
  std::string_view command;
  std::string_view display_name;
  bool operator==(const ContainerRuntime&) const = default;
};

/// The runtimes in order of preference.
inline constexpr std::array<ContainerRuntime, 2> runtime_table{{
    {"podman", "Podman"},
    {"docker", "Docker"},
}};

/// One container of the runtime's list.
struct ContainerInfo {
  std::string state;   ///< the state word, trimmed and lower-cased ("running", "exited", ...)
  std::string recipe;  ///< the hexadecimal hash of the label torvo.recipe, or ""
  bool operator==(const ContainerInfo&) const = default;
};

/// Containers by exact name.
using ContainerMap = std::unordered_map<std::string, ContainerInfo>;

/// Why a runtime's container list was not read.
struct ContainerListError {
  enum class Kind {
    NotInstalled,  ///< the program was not found
    NotRunning,    ///< it ran and failed; text: the "It said" suffix of its errors (maybe "")
    NoAnswer,      ///< time limit or a system failure; text: the run error's display text
  };
  Kind kind = Kind::NotInstalled;
  std::string text;
  bool operator==(const ContainerListError&) const = default;
};

/// The runtime that answered and the containers it listed in the same call.
struct RuntimeChoice {
  ContainerRuntime runtime;
  ContainerMap containers;
};

/// Lists every container of the runtime (one captured run, 15 seconds at most).
std::expected<ContainerMap, ContainerListError> list_containers(const CommandRunner& runner,
                                                                std::string_view command);

/// Hears the containers of a runtime's list while the list call still runs: the runtime's
/// command and the containers read so far from that runtime's list (a later line wins, as in
/// the finished list). Called from another thread, one call at a time; the list call's result
/// decides what the containers heard are worth.
using ContainersSeenFn = std::function<void(std::string_view command, const ContainerMap& so_far)>;

/// As list_containers, and `seen` hears the containers read so far after each line.
std::expected<ContainerMap, ContainerListError> list_containers(const CommandRunner& runner,
                                                                std::string_view command,
                                                                const ContainersSeenFn& seen);

/// Reads the output of the runtime's list call. Lines it cannot read are skipped.
ContainerMap parse_container_list(std::string_view output);

/// Reads one line of the list call's output (without its line end) into the map; a line it
/// cannot read changes nothing.
void read_container_line(std::string_view line, ContainerMap& containers);

/// The state word of a list line's state field: trimmed and lower-cased, with the status
/// texts of older Podman versions ("Up 5 seconds ago", "Exited (0) ...") turned into the
/// words "running" and "exited".
std::string container_state_word(std::string_view field);

/// The first runtime of the table that lists its containers, or one message that says, runtime
/// by runtime, what is wrong and what to do.
std::expected<RuntimeChoice, std::string> choose_runtime(const CommandRunner& runner);

/// As choose_runtime, and `seen` hears each runtime's containers while its list call runs.
std::expected<RuntimeChoice, std::string> choose_runtime(const CommandRunner& runner, const ContainersSeenFn& seen);

/// The advice, beginning with a blank, on how to start the runtime.
std::string runtime_start_hint(std::string_view command);

/// "\n    It said: " and the last non-blank line of a program's error output, trimmed; ""
/// when every line is blank.
std::string it_said_suffix(std::string_view error_text);

/// Runs the program captured (120 seconds at most); success only with exit code 0, else the
/// message that names the command and says why.
std::expected<void, std::string> run_checked(const CommandRunner& runner, const std::string& program,
                                             const std::vector<std::string>& args);

/// "\"<program> <args>\" failed" followed by the suffix.
std::string failed_command_message(std::string_view program, const std::vector<std::string>& args,
                                   std::string_view suffix);

/// Runs the program attached with only its errors shown, without a time limit; success only
/// with exit code 0. The message names the program and its first three arguments; where the
/// runner kept the output (a hidden runner: nobody saw it), it ends with the "It said" line.
std::expected<void, std::string> run_attached_checked(const CommandRunner& runner,
                                                      const std::string& program,
                                                      const std::vector<std::string>& args);

/// "\"<program> <first three args>\" failed" followed by the suffix.
std::string attached_failed_message(std::string_view program, const std::vector<std::string>& args,
                                    std::string_view suffix);

/// Runs the runtime with the whole "run ..." argument list and the environment pairs,
/// attached with only its errors shown, without a time limit. A failure's message points at
/// the output above, or, where the runner kept the output, ends with the "It said" line.
std::expected<void, std::string> run_container_start(const CommandRunner& runner,
                                                     const std::string& runtime_command,
                                                     std::string_view app_name,
                                                     const std::vector<std::string>& run_args,
                                                     const EnvPairs& environment);

/// "<app name> could not be started: \"<runtime command> run\" failed" followed by the suffix.
std::string start_failed_message(std::string_view app_name, std::string_view runtime_command,
                                 std::string_view suffix);

/// Receives each progress text of a long step as it happens.
using ProgressFn = std::function<void(std::string_view)>;

/// The chosen runtime; where Podman runs in a machine and the machine is stopped or absent,
/// the machine is started (and made first when no app has data), then the choice is made
/// again. Progress texts go to the context's output as they happen.
std::expected<RuntimeChoice, std::string> ensure_runtime(const CommandContext& ctx);

/// True where Podman runs its containers in a machine: every platform word but "linux".
bool uses_podman_machine(std::string_view platform);

/// Starts Podman's machine when Podman is installed but its list call fails; makes the machine
/// first when there is none and may_create is set. Gives whether it started the machine.
std::expected<bool, std::string> start_podman_machine(const CommandRunner& runner,
                                                      const ProgressFn& progress, bool may_create);

/// One interactive "podman <first> <second>" that must succeed; "<what>: ..." when it does not,
/// pointing at the output above or, where the runner kept the output, quoting its last line.
std::expected<void, std::string> run_podman_step(const CommandRunner& runner, std::string_view first,
                                                 std::string_view second, std::string_view what);

}  // namespace zelk
