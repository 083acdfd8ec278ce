#include "runtime.h"

#include <filesystem>
#include <system_error>

#include "lines.h"
#include "unicode.h"
#include "zelk/context.h"

namespace zelk {

namespace {

using namespace std::chrono_literals;

constexpr auto list_limit = 15s;
constexpr auto checked_limit = 120s;
constexpr std::string_view list_format = "{{.Names}}\t{{.State}}\t{{.Labels}}";
constexpr std::string_view recipe_label = "torvo.recipe";

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string to_lower_ascii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string recipe_of_labels(std::string_view labels) {
  const std::size_t at = labels.find(recipe_label);
  if (at == std::string_view::npos) return {};
  std::size_t pos = at + recipe_label.size();
  if (pos >= labels.size() || (labels[pos] != '=' && labels[pos] != ':')) return {};
  ++pos;
  std::size_t end = pos;
  while (end < labels.size() && is_hex_digit(labels[end])) ++end;
  return std::string(labels.substr(pos, end - pos));
}

/// "\"<program> <args>\" failed" with the first `count` arguments.
std::string quoted_command_failed(std::string_view program, const std::vector<std::string>& args,
                                  std::size_t count, std::string_view suffix) {
  std::string text;
  text.push_back('"');
  text.append(program);
  text.push_back(' ');
  for (std::size_t i = 0; i < count && i < args.size(); ++i) {
    if (i > 0) text.push_back(' ');
    text.append(args[i]);
  }
  text.append("\" failed");
  text.append(suffix);
  return text;
}

/// " (<display text of the error>)."
std::string run_error_suffix(const RunError& error) {
  std::string suffix(" (");
  suffix.append(fmt_run_error(error));
  suffix.append(").");
  return suffix;
}

/// How the message of a failed attached run ends after its exit code: where a hidden runner
/// kept the program's output, nobody saw it, so the message quotes its last line; else
/// `on_console` (which may point at the output on the console).
std::string attached_end(const AttachedRun& run, std::string_view on_console) {
  if (run.kept_output) return "." + it_said_suffix(*run.kept_output);
  return std::string(on_console);
}

std::string exit_suffix(const AttachedRun& run, std::string_view on_console) {
  if (!run.exit_code) return " (stopped by a signal)" + attached_end(run, ".");
  return " (exit code " + std::to_string(*run.exit_code) + ")" + attached_end(run, on_console);
}

bool any_app_has_data(const std::filesystem::path& home) {
  std::error_code error;
  std::filesystem::directory_iterator entries(home / "apps", error);
  if (error) return false;
  for (auto entry = std::filesystem::begin(entries); entry != std::filesystem::end(entries);
       entry.increment(error)) {
    if (error) return false;
    std::error_code ignored;
    if (std::filesystem::is_regular_file(entry->path() / ".env", ignored)) return true;
  }
  return false;
}

}  // namespace

std::string container_state_word(std::string_view field) {
  std::string word = to_lower_ascii(trim_white_space(field));
  // Podman before 4.6 prints its status text where later versions print the state word.
  if (word == "up" || word.starts_with("up ")) return "running";
  if (word.starts_with("exited")) return "exited";
  return word;
}

void read_container_line(std::string_view line, ContainerMap& containers) {
  const std::size_t first_tab = line.find('\t');
  if (first_tab == std::string_view::npos) return;
  const std::string_view names = line.substr(0, first_tab);
  std::string_view rest = line.substr(first_tab + 1);
  const std::size_t second_tab = rest.find('\t');
  const std::string_view state_field = rest.substr(0, second_tab);
  const std::string_view labels =
      second_tab == std::string_view::npos ? std::string_view{} : rest.substr(second_tab + 1);

  const ContainerInfo info{container_state_word(state_field), recipe_of_labels(labels)};
  std::string_view remaining = names;
  while (true) {
    const std::size_t comma = remaining.find(',');
    containers.insert_or_assign(std::string(trim_white_space(remaining.substr(0, comma))), info);
    if (comma == std::string_view::npos) break;
    remaining.remove_prefix(comma + 1);
  }
}

ContainerMap parse_container_list(std::string_view output) {
  ContainerMap containers;
  for (const std::string_view line : split_lines(output)) read_container_line(line, containers);
  return containers;
}

namespace {

std::expected<ContainerMap, ContainerListError> list_result(std::expected<RunOutput, RunError> run) {
  if (!run) {
    if (run.error().kind == RunError::Kind::NotFound) {
      return std::unexpected(ContainerListError{ContainerListError::Kind::NotInstalled, {}});
    }
    return std::unexpected(
        ContainerListError{ContainerListError::Kind::NoAnswer, fmt_run_error(run.error())});
  }
  if (!run->success()) {
    return std::unexpected(
        ContainerListError{ContainerListError::Kind::NotRunning, it_said_suffix(run->stderr_text)});
  }
  return parse_container_list(run->stdout_text);
}

std::vector<std::string> list_arguments() { return {"ps", "-a", "--format", std::string(list_format)}; }

}  // namespace

std::expected<ContainerMap, ContainerListError> list_containers(const CommandRunner& runner,
                                                                std::string_view command) {
  return list_result(runner.run_captured(std::string(command), list_arguments(), list_limit));
}

std::expected<ContainerMap, ContainerListError> list_containers(const CommandRunner& runner,
                                                                std::string_view command,
                                                                const ContainersSeenFn& seen) {
  ContainerMap so_far;
  const OutputLineFn each_line = [&](std::string_view line) {
    read_container_line(line, so_far);
    seen(command, so_far);
  };
  return list_result(runner.run_captured_lines(std::string(command), list_arguments(), list_limit, each_line));
}

std::string runtime_start_hint(std::string_view command) {
  if (command == "podman") return " Start it with: podman machine start (the first time: podman machine init)";
  return " Start the Docker service.";
}

std::expected<RuntimeChoice, std::string> choose_runtime(const CommandRunner& runner) {
  return choose_runtime(runner, nullptr);
}

std::expected<RuntimeChoice, std::string> choose_runtime(const CommandRunner& runner, const ContainersSeenFn& seen) {
  std::string lines;
  bool any_installed = false;
  for (const ContainerRuntime& runtime : runtime_table) {
    auto listed = seen ? list_containers(runner, runtime.command, seen) : list_containers(runner, runtime.command);
    if (listed) return RuntimeChoice{runtime, std::move(*listed)};

    const std::string name(runtime.display_name);
    std::string line;
    switch (listed.error().kind) {
      case ContainerListError::Kind::NotInstalled:
        line = "  " + name + " is not installed.";
        break;
      case ContainerListError::Kind::NotRunning:
        any_installed = true;
        line = "  " + name + " is installed but not running." + runtime_start_hint(runtime.command) +
               listed.error().text;
        break;
      case ContainerListError::Kind::NoAnswer:
        any_installed = true;
        line = "  " + name + " is installed but did not answer (" + listed.error().text + ")." +
               runtime_start_hint(runtime.command);
        break;
    }
    if (!lines.empty()) lines += '\n';
    lines += line;
  }
  return std::unexpected("No usable container runtime was found.\n" + lines + "\n" +
                         (any_installed ? "Start it and try again." : "Set it up with: zelk setup"));
}

std::string it_said_suffix(std::string_view error_text) {
  // A program writes for a terminal: its colours go, and what is left is a stranger's text.
  std::string last;
  for (const std::string_view line : split_lines(error_text)) {
    const std::string plain = without_terminal_codes(line);
    const std::string_view trimmed = trim_white_space(plain);
    if (!trimmed.empty()) last = trimmed;
  }
  if (last.empty()) return {};
  return "\n    It said: " + visible_text(last);
}

std::string failed_command_message(std::string_view program, const std::vector<std::string>& args,
                                   std::string_view suffix) {
  return quoted_command_failed(program, args, args.size(), suffix);
}

std::expected<void, std::string> run_checked(const CommandRunner& runner, const std::string& program,
                                             const std::vector<std::string>& args) {
  auto run = runner.run_captured(program, args, checked_limit);
  if (!run) return std::unexpected(failed_command_message(program, args, run_error_suffix(run.error())));
  if (run->success()) return {};
  return std::unexpected(failed_command_message(program, args, std::string(".") + it_said_suffix(run->stderr_text)));
}

std::string attached_failed_message(std::string_view program, const std::vector<std::string>& args,
                                    std::string_view suffix) {
  // Only the first three arguments are named: what follows is a file's path.
  return quoted_command_failed(program, args, 3, suffix);
}

std::expected<void, std::string> run_attached_checked(const CommandRunner& runner,
                                                      const std::string& program,
                                                      const std::vector<std::string>& args) {
  auto run = runner.run_attached(program, args, {}, AttachMode::ErrorsOnly);
  if (!run) return std::unexpected(attached_failed_message(program, args, run_error_suffix(run.error())));
  if (run->exit_code == 0) return {};
  return std::unexpected(attached_failed_message(program, args, exit_suffix(*run, ".")));
}

std::string start_failed_message(std::string_view app_name, std::string_view runtime_command,
                                 std::string_view suffix) {
  return std::string(app_name) + " could not be started: \"" + std::string(runtime_command) +
         " run\" failed" + std::string(suffix);
}

std::expected<void, std::string> run_container_start(const CommandRunner& runner,
                                                     const std::string& runtime_command,
                                                     std::string_view app_name,
                                                     const std::vector<std::string>& run_args,
                                                     const EnvPairs& environment) {
  auto run = runner.run_attached(runtime_command, run_args, environment, AttachMode::ErrorsOnly);
  if (!run) {
    return std::unexpected(
        start_failed_message(app_name, runtime_command, run_error_suffix(run.error())));
  }
  if (run->exit_code == 0) return {};
  return std::unexpected(
      start_failed_message(app_name, runtime_command, exit_suffix(*run, "; see the output above.")));
}

bool uses_podman_machine(std::string_view platform) { return platform != "linux"; }

std::expected<void, std::string> run_podman_step(const CommandRunner& runner, std::string_view first,
                                                 std::string_view second, std::string_view what) {
  auto run = runner.run_attached("podman", {std::string(first), std::string(second)}, {},
                                 AttachMode::Interactive);
  const std::string named = std::string(what) + ": \"podman " + std::string(first) + " " +
                            std::string(second) + "\" failed";
  if (!run) return std::unexpected(named + run_error_suffix(run.error()));
  if (run->exit_code == 0) return {};
  return std::unexpected(named + attached_end(*run, "; see the output above."));
}

std::expected<bool, std::string> start_podman_machine(const CommandRunner& runner,
                                                      const ProgressFn& progress, bool may_create) {
  auto listed = list_containers(runner, "podman");
  if (listed || listed.error().kind != ContainerListError::Kind::NotRunning) return false;

  auto machines = runner.run_captured("podman", {"machine", "list", "--format", "{{.Name}}"}, list_limit);
  if (machines && machines->success() && trim_white_space(machines->stdout_text).empty()) {
    if (!may_create) {
      return std::unexpected(
          "Podman's machine is gone, and with it the apps and their data. Run: zelk setup\n"
          "  Nothing was created in its place. \"zelk setup\" makes a new machine; the apps then "
          "start empty.");
    }
    progress("Setting up Podman for its first use. This downloads its system once ...");
    if (auto init = run_podman_step(runner, "machine", "init", "Podman could not be set up"); !init) {
      return std::unexpected(init.error());
    }
  }
  progress("Starting Podman ...");
  if (auto start = run_podman_step(runner, "machine", "start", "Podman could not be started"); !start) {
    return std::unexpected(start.error());
  }
  return true;
}

std::expected<RuntimeChoice, std::string> ensure_runtime(const CommandContext& ctx) {
  auto choice = choose_runtime(ctx.runner);
  if (choice || !uses_podman_machine(ctx.platform)) return choice;

  const bool may_create = !any_app_has_data(ctx.home);
  const ProgressFn progress = [&ctx](std::string_view text) { say(ctx.output, text); };
  auto started = start_podman_machine(ctx.runner, progress, may_create);
  if (!started) return std::unexpected(started.error());
  if (*started) return choose_runtime(ctx.runner);
  return choice;
}

}  // namespace zelk
