#include "apps_start.h"
#include "runner.h"
#include "lines.h"

#include <charconv>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <vector>

#include "app_lock.h"
#include "envfile.h"
#include "files.h"
#include "platform.h"
#include "pull.h"
#include "unicode.h"
#include "utf8.h"
#include "zelk/app_containers.h"

namespace zelk {

namespace {

namespace fs = std::filesystem;

constexpr std::chrono::seconds free_space_limit{20};
constexpr std::chrono::seconds look_limit{15};
constexpr std::chrono::seconds stop_limit{120};  // as for every runtime command that must succeed
constexpr std::chrono::seconds probe_pause{2};
constexpr int probe_attempts = 120;
constexpr int list_every = 5;
constexpr std::uint64_t headroom_mb = 2048;
constexpr int stop_rounds = 20;

std::optional<std::uint64_t> whole_number(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}


std::string hex_of(std::span<const std::uint8_t> bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t byte : bytes) {
    text.push_back(digits[byte >> 4]);
    text.push_back(digits[byte & 0xF]);
  }
  return text;
}

std::string could_not_write(const Recipe& recipe, std::string_view error) {
  return "The settings of " + recipe.name + " could not be written: " + std::string(error);
}

/// The settings text as the user left it, with each line ended by "\n".
std::string normalised(std::string_view text) {
  std::string result;
  for (std::string_view line : split_lines(text)) {
    result.append(line);
    result.push_back('\n');
  }
  return result;
}

/// The settings file, with every secret the app needs and its port. Written back
/// only when it changed, so a file the user keeps as it is stays untouched.
struct SettledSettings {
  std::string text;
  std::uint16_t port = 0;
};

std::expected<SettledSettings, std::string> settle_settings(const CommandContext& ctx, const Recipe& recipe) {
  const fs::path path = settings_path(ctx.home, recipe.id);
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  const bool present = status.type() != fs::file_type::not_found;
  if (present && error) return std::unexpected(could_not_write(recipe, error_code_text(error)));

  std::string old_text;
  if (present) {
    auto read = read_file(path);
    if (!read) return std::unexpected(could_not_write(recipe, read.error()));
    if (!is_valid_utf8(*read)) return std::unexpected(could_not_write(recipe, "the file is not UTF-8 text"));
    old_text = std::move(*read);
  }

  std::string text = normalised(present ? old_text : recipe.settings);
  for (const auto& [name, length] : secrets_in_use(recipe)) {
    if (present) {
      auto value = setting_value(text, name);
      if (value && !value->empty()) continue;
    }
    std::vector<std::uint8_t> bytes(length);
    if (auto filled = ctx.fill_random(bytes); !filled) return std::unexpected(could_not_write(recipe, filled.error()));
    text = set_setting(text, name, hex_of(bytes));
  }

  SettledSettings settled;
  std::optional<std::uint16_t> stored = present ? settings_port(text) : std::nullopt;
  if (stored) {
    settled.port = *stored;
  } else {
    settled.port = recipe.port;
    text = set_setting(text, "TORVO_PORT", std::to_string(recipe.port));
  }

  if (text != old_text) {
    if (auto written = write_settings(ctx.home, recipe.id, text); !written) {
      return std::unexpected("The settings of " + recipe.name + " could not be written " + written.error());
    }
  }
  settled.text = std::move(text);
  return settled;
}

std::optional<std::string> home_text(const fs::path& home) { return path_to_utf8_exact(home); }

/// Before a first install of an app that says how big it is, refuse when the disk
/// cannot hold it with 2 GB to spare. A check that cannot be made is skipped.
std::expected<void, std::string> check_disk(const CommandContext& ctx, const ContainerRuntime& runtime,
                                            const Recipe& recipe, const ContainerMap& containers) {
  if (containers.contains(recipe.container) || recipe.disk_mb == 0) return {};
  if (run_checked(ctx.runner, std::string(runtime.command), existence_query(runtime.command, "image", recipe.image))) {
    return {};
  }
  const std::optional<std::uint64_t> free = free_megabytes(ctx);
  if (!free) return {};
  const std::uint64_t needed = std::uint64_t{recipe.disk_mb} + headroom_mb;
  if (*free >= needed) return {};
  return std::unexpected(recipe.name + " takes about " + format_gigabytes(recipe.disk_mb) +
                         " on disk once downloaded, and only " + format_gigabytes(*free) +
                         " are free on this disk. Free at least " + format_gigabytes(needed - *free) +
                         " more and try again.");
}

/// The image, when Podman lacks it, fetched through Podman's API so the user sees its size and
/// progress; gives the image that arrived, or none to let the runtime fetch it in its run.
std::optional<std::string> pull_through_api(const CommandContext& ctx, const Recipe& recipe) {
  if (run_checked(ctx.runner, "podman", {"image", "exists", recipe.image})) return std::nullopt;
  const std::optional<std::string> endpoint = find_podman_api(ctx);
  if (!endpoint) return std::nullopt;
  std::vector<std::string> candidates{recipe.image};
  if (recipe.fallback_image) candidates.push_back(*recipe.fallback_image);
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (i > 0) {
      say(ctx.output, "The image did not arrive from " + image_registry(recipe.image) + ". Trying " +
                          candidates[i] + " ...");
    }
    if (!pull_image(ctx, *endpoint, candidates[i])) continue;
    if (run_checked(ctx.runner, "podman", {"image", "exists", candidates[i]})) return candidates[i];
  }
  return std::nullopt;
}

// Docker daemons before API 1.44 take one network per "run". With more than one, Docker gets
// the same container in three steps: created on the first network, connected to the others
// (under the same alias), then started. A container left half-connected is removed, so the
// next start makes it whole instead of starting it without a network.
std::expected<void, std::string> run_container(const CommandContext& ctx, const std::string& rt,
                                               const std::string& label, const ContainerRun& run,
                                               const std::vector<std::string>& args) {
  // The list begins "run", "-d", "--name", <name>, "--restart", <policy>, then the networks
  // and the alias; everything after them is copied as it is.
  std::vector<std::string> networks;
  std::optional<std::string> alias;
  std::size_t i = std::min<std::size_t>(6, args.size());
  std::vector<std::string> create{"create"};
  create.insert(create.end(), args.begin() + 2, args.begin() + static_cast<std::ptrdiff_t>(i));
  for (; i + 1 < args.size() && args[i] == "--network"; i += 2) networks.push_back(args[i + 1]);
  if (!networks.empty()) create.insert(create.end(), {"--network", networks.front()});
  if (i + 1 < args.size() && args[i] == "--network-alias") alias = args[i + 1];
  create.insert(create.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (rt != "docker" || networks.size() < 2) return run_container_start(ctx.runner, rt, label, args, run.env);

  if (auto created = run_container_start(ctx.runner, rt, label, create, run.env); !created) return created;
  for (std::size_t n = 1; n < networks.size(); ++n) {
    std::vector<std::string> connect{"network", "connect"};
    if (alias) connect.insert(connect.end(), {"--alias", *alias});
    connect.insert(connect.end(), {networks[n], run.container});
    if (auto connected = run_checked(ctx.runner, rt, connect); !connected) {
      (void)run_checked(ctx.runner, rt, {"rm", "-f", "-v", run.container});
      return connected;
    }
  }
  return run_checked(ctx.runner, rt, {"start", run.container});
}

std::expected<void, std::string> create_container(const CommandContext& ctx, const ContainerRuntime& runtime,
                                                  const Recipe& recipe, const ContainerRun& run,
                                                  const std::string& label) {
  const std::string rt(runtime.command);
  for (const std::string& network : app_networks(recipe)) {
    if (run_checked(ctx.runner, rt, {"network", "inspect", network})) continue;
    if (auto created = run_checked(ctx.runner, rt, {"network", "create", network}); !created) {
      return std::unexpected(created.error());
    }
  }

  // Only the app's own image is pulled here, and only when it is the last argument.
  const bool own_image = !run.helper_name && recipe.command.empty();
  std::vector<std::string> args = run.args;
  if (own_image && rt == "podman") {
    if (auto arrived = pull_through_api(ctx, recipe)) args.back() = *arrived;
  }

  auto started = run_container(ctx, rt, label, run, args);
  if (started) return {};
  if (!own_image || !recipe.fallback_image) return started;

  // A run that failed before making its container most likely found no image: one more run
  // with the fallback image, whose result is final.
  auto listed = list_containers(ctx.runner, rt);
  if (!listed || listed->contains(run.container)) return started;
  say(ctx.output, "The image did not arrive from " + image_registry(recipe.image) + ". Trying " +
                      *recipe.fallback_image + " ...");
  args.back() = *recipe.fallback_image;
  return run_container(ctx, rt, label, run, args);
}

/// True for the states of a container the runtime made but never ran.
bool never_started(std::string_view state) { return state == "created" || state == "initialized"; }

/// One container: nothing when it runs as the recipe and settings say, a start
/// when it is stopped, a new container in place of one made from something else or of one
/// that was never started and will not start.
std::expected<void, std::string> bring_up(const CommandContext& ctx, const ContainerRuntime& runtime,
                                          const Recipe& recipe, const ContainerMap& containers,
                                          const ContainerRun& run) {
  const std::string rt(runtime.command);
  const std::string label = container_label(recipe, run.helper_name);
  const auto found = containers.find(run.container);
  if (found != containers.end() && found->second.recipe == run.recipe_hash) {
    if (found->second.state == "running") return {};
    say(ctx.output, "Starting " + label + " with " + std::string(runtime.display_name) + " ...");
    auto started = run_checked(ctx.runner, rt, {"start", run.container});
    if (started || !never_started(found->second.state)) return started;
    // A first start broken off (Ctrl-C while the runtime made the container) can leave one
    // that no later start brings up. Its data lives in named volumes, which stay.
    say(ctx.output, label + " never finished its first start. Making it anew; its data is kept.");
    if (auto removed = run_checked(ctx.runner, rt, {"rm", "-f", "-v", run.container}); !removed) return removed;
    return create_container(ctx, runtime, recipe, run, label);
  }
  if (found != containers.end()) {
    say(ctx.output, "Updating " + label + " to the current recipe and settings. Its data is kept.");
    if (auto removed = run_checked(ctx.runner, rt, {"rm", "-f", "-v", run.container}); !removed) {
      return std::unexpected(removed.error());
    }
  } else {
    std::string disk;
    if (!run.helper_name && recipe.disk_mb != 0) {
      disk = "; it takes about " + format_gigabytes(recipe.disk_mb) + " on disk";
    }
    say(ctx.output, "Installing " + label + " with " + std::string(runtime.display_name) + disk + " ...");
  }
  return create_container(ctx, runtime, recipe, run, label);
}

/// The first of the app's containers that is missing or not running, in container order.
std::optional<std::string> first_down(const Recipe& recipe, const ContainerMap& listed) {
  for (const std::string& name : container_names(recipe)) {
    const auto found = listed.find(name);
    if (found == listed.end() || found->second.state != "running") return name;
  }
  return std::nullopt;
}

std::string down_message(const Recipe& recipe, const std::string& container) {
  for (const RecipeService& helper : recipe.helpers) {
    if (helper.container == container) {
      return recipe.name + "'s helper \"" + helper.name + "\" does not stay running. See: zelk logs " + recipe.id +
             " " + helper.name;
    }
  }
  if (!recipe.helpers.empty()) return recipe.name + " does not stay running. See: zelk logs " + recipe.id;
  return recipe.name + " stopped right after it was started. See: zelk logs " + recipe.id;
}

/// True for the states of a container its restart policy may still bring back: running, ended
/// with its restart to come (Podman's "stopped"), or restarting (Docker's).
bool may_come_back(std::string_view state) {
  return state == "running" || state == "stopped" || state == "restarting";
}

/// Stops the app's containers that exist, so that the runtime no longer restarts one that ends
/// at once; they stay, with their logs. Podman (4.3 at least) leaves a container that is between
/// two of its restarts to restart: its stop finds it stopped already, or refuses it in the middle
/// of a restart. So the stop is made again, a bounded number of times, until the container stays
/// down. Nothing of this is reported: the start's own message is what the user needs.
void stop_and_keep(const CommandContext& ctx, const std::string& rt, const Recipe& recipe,
                   const ContainerMap& listed) {
  for (const std::string& name : listed_containers(recipe, listed)) {
    for (int round = 0; round < stop_rounds; ++round) {
      // A runtime that does not answer would not answer the next try either.
      if (!ctx.runner.run_captured(rt, {"stop", name}, stop_limit)) break;
      auto look = ctx.runner.run_captured(rt, {"inspect", "--format", "{{.State.Status}}", name}, look_limit);
      if (!look || !look->success() || !may_come_back(container_state_word(look->stdout_text))) break;
    }
  }
}

/// A log line's time as text that sorts in time order: the date and time to the second, then
/// nine digits of the fraction (Podman leaves out its trailing zeros).
std::string sortable_time(std::string_view stamp) {
  constexpr std::size_t whole_seconds = 19;  // "2024-05-01T10:00:00"
  constexpr std::size_t fraction_digits = 9;
  std::string key(stamp.substr(0, whole_seconds));
  std::size_t at = whole_seconds;
  if (at < stamp.size() && stamp[at] == '.') ++at;
  std::size_t digits = 0;
  for (; at < stamp.size() && digits < fraction_digits && stamp[at] >= '0' && stamp[at] <= '9'; ++at, ++digits) {
    key.push_back(stamp[at]);
  }
  key.append(fraction_digits - digits, '0');
  return key;
}

struct LogLine {
  std::string time;
  std::string_view text;
};

/// The last line of one stream of the runtime's "logs --timestamps" whose text is not blank.
std::optional<LogLine> last_written(std::string_view stream) {
  std::optional<LogLine> last;
  for (const std::string_view line : split_lines(stream)) {
    const std::size_t blank = line.find(' ');
    if (blank == std::string_view::npos) continue;
    const std::string_view text = trim_white_space(line.substr(blank + 1));
    if (!text.empty()) last = LogLine{sortable_time(line.substr(0, blank)), text};
  }
  return last;
}

/// The last line the container wrote that is not blank; "" when there is none or its logs
/// cannot be read. The runtime gives back what the app wrote to its output and to its errors
/// on two streams of its own; the time before each line puts the two in order again.
std::string last_log_line(const CommandContext& ctx, const std::string& rt, const std::string& container) {
  auto logs = ctx.runner.run_captured(rt, {"logs", "--timestamps", "--tail", "20", container}, look_limit);
  if (!logs || !logs->success()) return {};
  const std::optional<LogLine> output = last_written(logs->stdout_text);
  const std::optional<LogLine> errors = last_written(logs->stderr_text);
  if (output && (!errors || output->time > errors->time)) return std::string(output->text);
  return errors ? std::string(errors->text) : std::string();
}

/// The ready path every 2 seconds, 120 times. Every fifth attempt also looks at the
/// containers: an app alone fails at once when its container is down; an app with helpers only
/// when two checks in a row find the same container down, so a helper's restart is forgiven.
std::expected<void, std::string> wait_until_ready(const CommandContext& ctx, const ContainerRuntime& runtime,
                                                  const Recipe& recipe, std::uint16_t port) {
  say(ctx.output, "Waiting for " + recipe.name + " to answer on port " + std::to_string(port) + " ...");
  std::optional<std::string> previous;
  for (int attempt = 1; attempt <= probe_attempts; ++attempt) {
    const std::optional<std::uint16_t> status = ctx.probe(port, recipe.ready);
    if (status && *status >= 200 && *status <= 299) return {};
    if (attempt % list_every == 0) {
      if (auto listed = list_containers(ctx.runner, runtime.command)) {
        std::optional<std::string> finding = first_down(recipe, *listed);
        if (finding && (recipe.helpers.empty() || finding == previous)) {
          // Left as it is, the runtime would start it again and again for ever.
          const std::string rt(runtime.command);
          stop_and_keep(ctx, rt, recipe, *listed);
          std::string message = down_message(recipe, *finding);
          if (ctx.quote_app_logs) message += it_said_suffix(last_log_line(ctx, rt, *finding));
          return std::unexpected(message);
        }
        previous = std::move(finding);
      }
    }
    ctx.sleep(probe_pause);
  }
  return std::unexpected(recipe.name + " was started but did not answer on http://127.0.0.1:" + std::to_string(port) +
                         recipe.ready + " within " + std::to_string(probe_attempts * probe_pause.count()) +
                         " seconds. See: zelk logs " + recipe.id);
}

}  // namespace

std::vector<std::string> existence_query(std::string_view runtime_command, std::string_view kind,
                                         const std::string& name) {
  return {std::string(kind), runtime_command == "docker" ? "inspect" : "exists", name};
}

std::string image_registry(std::string_view image) {
  return std::string(image.substr(0, image.find('/')));
}

std::string container_label(const Recipe& recipe, const std::optional<std::string>& helper_name) {
  if (!helper_name) return recipe.name;
  return recipe.name + "'s helper \"" + *helper_name + "\"";
}

std::optional<std::uint64_t> free_megabytes(const CommandContext& ctx) {
  const std::optional<std::string> home = home_text(ctx.home);
  if (!home) return std::nullopt;
  if (ctx.platform == "windows") {
    const char letter = home->empty() ? '\0' : (*home)[0];
    const bool drive = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    if (!drive || home->size() < 2 || (*home)[1] != ':') return std::nullopt;
    auto run = ctx.runner.run_captured(
        "powershell",
        {"-NoProfile", "-NonInteractive", "-Command", "(Get-PSDrive -Name " + home->substr(0, 1) + ").Free"},
        free_space_limit);
    if (!run || !run->success()) return std::nullopt;
    const std::optional<std::uint64_t> bytes = whole_number(trim_white_space(run->stdout_text));
    if (!bytes) return std::nullopt;
    return *bytes >> 20;
  }
  auto run = ctx.runner.run_captured("df", {"-Pk", *home}, free_space_limit);
  if (!run || !run->success()) return std::nullopt;
  const std::vector<std::string_view> lines = split_lines(run->stdout_text);
  if (lines.size() < 2) return std::nullopt;
  const std::vector<std::string_view> fields = split_white_space(lines[1]);
  if (fields.size() < 4) return std::nullopt;
  const std::optional<std::uint64_t> kilobytes = whole_number(fields[3]);
  if (!kilobytes) return std::nullopt;
  return *kilobytes >> 10;
}

std::expected<std::uint16_t, std::string> start_app(const CommandContext& ctx, const ContainerRuntime& runtime,
                                                    const Recipe& recipe, const ContainerMap& containers) {
  auto settings = settle_settings(ctx, recipe);
  if (!settings) return std::unexpected(settings.error());
  const std::uint16_t port = settings->port;

  if (auto disk = check_disk(ctx, runtime, recipe, containers); !disk) return std::unexpected(disk.error());

  // Every run command first, so a missing secret stops the start before any container changes.
  std::vector<ContainerRun> runs;
  for (bool after_app : {false, true}) {
    if (after_app) {
      auto own = run_arguments(app_run_plan(recipe), recipe, port, settings->text);
      if (!own) return std::unexpected(own.error());
      runs.push_back(std::move(*own));
    }
    for (const RecipeService& helper : recipe.helpers) {
      if (helper.after_app != after_app) continue;
      auto run = helper_run_arguments(recipe, port, settings->text, helper);
      if (!run) return std::unexpected(run.error());
      runs.push_back(std::move(*run));
    }
  }

  for (const ContainerRun& run : runs) {
    if (auto up = bring_up(ctx, runtime, recipe, containers, run); !up) return std::unexpected(up.error());
  }

  if (auto ready = wait_until_ready(ctx, runtime, recipe, port); !ready) return std::unexpected(ready.error());

  say(ctx.output, recipe.name + " is ready: http://127.0.0.1:" + std::to_string(port) + recipe.open);
  // An app that runs is no less started without its marker, but "resume" will pass it by: said.
  if (std::optional<std::string> unwritten = write_running_marker(ctx.home, recipe)) say(ctx.output, *unwritten);
  return port;
}

std::expected<std::uint16_t, std::string> start_app_with_used(const CommandContext& ctx,
                                                              const ContainerRuntime& runtime,
                                                              const Recipe& recipe,
                                                              const ContainerMap& containers) {
  // Its callers hold these from before they read anything; from anywhere else it waits here.
  auto held = lock_app_and_used(ctx, recipe);
  if (!held) return std::unexpected(held.error());
  for (const std::string& id : recipe.uses) {
    const Recipe* used = nullptr;
    for (const Recipe& known : ctx.recipes) {
      if (known.id == id) {
        used = &known;
        break;
      }
    }
    if (!used) {
      say(ctx.output, recipe.name + " uses the app \"" + id + "\", which is not on this Zelk. It starts without it.");
      continue;
    }
    const AppState state = app_state(ctx, *used, containers);
    if (state.kind == AppState::Kind::Ready || !recipe.starts_used) continue;
    say(ctx.output, recipe.name + " uses " + used->name + ". Starting " + used->name + " first ...");
    if (auto started = start_app(ctx, runtime, *used, containers); !started) {
      return std::unexpected(recipe.name + " uses " + used->name + ", which could not be started. " +
                             started.error());
    }
  }
  return start_app(ctx, runtime, recipe, containers);
}

}  // namespace zelk
