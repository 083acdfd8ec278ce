#include "apps_start.h"
#include "runner.h"
#include "lines.h"

#include <charconv>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include "app_lock.h"
#include "envfile.h"
#include "files.h"
#include "fresh_folder.h"
#include "platform.h"
#include "port_check.h"
#include "pull.h"
#include "text_files.h"
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
constexpr std::chrono::seconds look_every{10};  // at the latest, when probes take long
constexpr std::uint64_t headroom_mb = 2048;
constexpr int stop_rounds = 20;
constexpr std::chrono::seconds stop_budget{120};  // the whole of the repeated stop of one app
constexpr long deaths_to_give_up = 2;               // restarts since this start

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
  if (auto kept = keep_app_folder_private(ctx.home, recipe.id); !kept) return std::unexpected(kept.error());
  const fs::path path = settings_path(ctx.home, recipe.id);
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  const bool present = status.type() != fs::file_type::not_found;
  if (present && error) return std::unexpected(could_not_write(recipe, error_code_text(error)));

  std::string old_text;
  std::optional<std::string> settled_from_mark;
  if (present) {
    auto read = read_file(path);
    if (!read) return std::unexpected(could_not_write(recipe, read.error()));
    if (!is_valid_utf8(*read)) {
      return std::unexpected("The settings file " + path_to_utf8(path) + " of " + recipe.name + " is not UTF-8 text. " +
                             std::string(save_as_utf8));
    }
    // Written back without the mark an editor may have put first, which no line starts with.
    old_text = std::move(*read);
    if (without_byte_order_mark(old_text).size() != old_text.size()) {
      settled_from_mark = std::string(without_byte_order_mark(old_text));
    }
  }

  std::string text = normalised(present ? (settled_from_mark ? *settled_from_mark : old_text) : recipe.settings);
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
  std::optional<std::string> no_port;  // the value the user wrote, which is no port
  if (stored) {
    settled.port = *stored;
  } else {
    if (present) no_port = setting_value(text, "TORVO_PORT");
    settled.port = recipe.port;
    text = set_setting(text, "TORVO_PORT", std::to_string(recipe.port));
  }

  if (text != old_text) {
    if (auto written = write_settings(ctx.home, recipe.id, text); !written) {
      return std::unexpected("The settings of " + recipe.name + " could not be written " + written.error());
    }
  }
  if (no_port) {
    const std::string port = std::to_string(settled.port);
    say(ctx.output, "TORVO_PORT in " + path_to_utf8(path) + " is \"" + visible_text(*no_port) +
                        "\", which is not a port (a number from 1 to 65535). " + recipe.name + " uses port " + port +
                        ", the one its recipe gives, and the file now says TORVO_PORT=" + port + ".");
  }
  settled.text = std::move(text);
  return settled;
}

bool is_key_text(std::string_view text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

/// The data folder's key for the digests of secret values, made from random bytes at its first
/// use. A key is written whole under a name of its own and then given the key's name only where
/// no key is there yet, so two programs that make one at once end up using the same one.
std::expected<std::string, std::string> settings_digest_key(const CommandContext& ctx, const Recipe& recipe) {
  const fs::path path = settings_key_path(ctx.home);
  if (auto kept = read_file(path); kept && is_key_text(*kept)) return std::move(*kept);
  std::vector<std::uint8_t> bytes(40);
  if (auto filled = ctx.fill_random(bytes); !filled) return std::unexpected(could_not_write(recipe, filled.error()));
  const std::string key = hex_of(std::span(bytes).first(32));
  fs::path fresh = path;
  fresh += "." + hex_of(std::span(bytes).last(8)) + ".new";
  if (auto made = make_data_folder(ctx.home); !made) return std::unexpected(could_not_write(recipe, made.error()));
  if (auto written = write_fresh_file(fresh, key); !written) {
    return std::unexpected(could_not_write(recipe, written.error().text));
  }
  auto named = rename_fresh_folder(fresh, path);
  if (!named) {
    std::error_code ignored;
    fs::remove(fresh, ignored);
    // Another program's key took the name first: that one is the data folder's.
    if (auto kept = read_file(path); named.error().taken && kept && is_key_text(*kept)) return std::move(*kept);
    return std::unexpected(could_not_write(recipe, named.error().text));
  }
  return key;
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

std::string joined_names(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

/// Before a first install: an app that the other runtime keeps (its containers or its data
/// volumes are there) would be made anew here, without its data. Zelk only sees the runtime it
/// chose, so it says where the app is and how to go on instead.
std::expected<void, std::string> check_other_runtime(const CommandContext& ctx, const ContainerRuntime& runtime,
                                                     const Recipe& recipe, const ContainerMap& containers) {
  if (containers.contains(recipe.container)) return {};
  for (const ContainerRuntime& other : runtime_table) {
    if (other == runtime) continue;
    auto listed = list_containers(ctx.runner, other.command);
    if (!listed) continue;  // not there or not running: it keeps nothing it could give back now
    const std::string rt(other.command);
    const std::vector<std::string> held_containers = listed_containers(recipe, *listed);
    std::vector<std::string> held_volumes;
    for (const std::string& volume : volume_names(recipe)) {
      if (run_checked(ctx.runner, rt, existence_query(rt, "volume", volume))) held_volumes.push_back(volume);
    }
    if (held_containers.empty() && held_volumes.empty()) continue;

    std::vector<std::string> held = held_containers;
    held.insert(held.end(), held_volumes.begin(), held_volumes.end());
    std::string removal;
    if (!held_containers.empty()) removal += rt + " rm -f " + joined_names(held_containers);
    if (!held_volumes.empty()) {
      std::string volumes;
      for (const std::string& volume : held_volumes) volumes += " " + volume;
      removal += (removal.empty() ? "" : ", then ") + rt + " volume rm" + volumes;
    }
    const std::string ours(runtime.display_name);
    const std::string theirs(other.display_name);
    const std::string stop = runtime.command == "podman" && uses_podman_machine(ctx.platform)
                                 ? " (podman machine stop)"
                                 : "";
    return std::unexpected(recipe.name + " is not installed in " + ours + ", but " + theirs + " keeps it: " +
                           joined_names(held) + ". The Zelk uses " + ours + " while it answers, so a start here " +
                           "would make " + recipe.name + " anew, without that data. Nothing was changed.\n" +
                           "  To go on with the copy in " + theirs + ": stop " + ours + stop + ", then start " +
                           recipe.name + " again.\n" +
                           "  To make it anew in " + ours + " instead, remove it from " + theirs +
                           " first (its data goes with it): " + removal);
  }
  return {};
}

/// What inspect tells of a container now: its state, its named volumes and the ports it
/// publishes on this computer.
struct ContainerUse {
  std::string state;
  std::vector<std::string> volumes;
  std::vector<std::uint16_t> ports;
};

constexpr std::string_view use_format =
    "state {{.State.Status}}{{println}}"
    "{{range .Mounts}}{{if eq .Type \"volume\"}}volume {{.Name}}{{println}}{{end}}{{end}}"
    "{{range $port, $bindings := .HostConfig.PortBindings}}{{range $bindings}}port {{.HostPort}}{{println}}"
    "{{end}}{{end}}";

/// What inspect told of the containers to be made anew, by name.
using ContainerUses = std::map<std::string, std::optional<ContainerUse>>;

/// The container's use, or none when the runtime does not tell it.
std::optional<ContainerUse> container_use(const CommandContext& ctx, const std::string& rt,
                                          const std::string& container) {
  auto look = ctx.runner.run_captured(rt, {"inspect", "--format", std::string(use_format), container}, look_limit);
  if (!look || !look->success()) return std::nullopt;
  ContainerUse use;
  for (const std::string_view line : split_lines(look->stdout_text)) {
    if (line.starts_with("state ")) use.state = container_state_word(line.substr(6));
    if (line.starts_with("volume ")) use.volumes.emplace_back(trim_white_space(line.substr(7)));
    if (line.starts_with("port ")) {
      if (auto port = whole_number(trim_white_space(line.substr(5))); port && *port > 0 && *port <= 65535) {
        use.ports.push_back(static_cast<std::uint16_t>(*port));
      }
    }
  }
  return use;
}

/// The named volumes a run mounts: the name before ":" of each "-v" argument.
std::vector<std::string> mounted_volumes(const ContainerRun& run) {
  std::vector<std::string> volumes;
  for (std::size_t i = 0; i + 1 < run.args.size(); ++i) {
    if (run.args[i] == "-v") volumes.push_back(run.args[i + 1].substr(0, run.args[i + 1].find(':')));
  }
  return volumes;
}

bool held_port(const ContainerUse& use, std::uint16_t port) {
  return std::find(use.ports.begin(), use.ports.end(), port) != use.ports.end();
}

/// True for the states of a container that may hold the port it publishes.
bool may_hold_port(std::string_view state) {
  return state == "running" || state == "restarting" || state == "stopped" || state == "paused";
}

/// Before the app's own container is made, made anew or started: its port must be free on
/// 127.0.0.1 and no other app's. A port its own container holds is its own: the container map
/// may be older than the container's state (another start may have brought it up since), so
/// the runtime is asked when the port is not free.
std::expected<void, std::string> check_port(const CommandContext& ctx, const ContainerRuntime& runtime,
                                            const Recipe& recipe, const ContainerMap& containers,
                                            const ContainerUses& uses, std::uint16_t port) {
  const std::string settings = path_to_utf8(settings_path(ctx.home, recipe.id));
  const std::string number = std::to_string(port);
  for (const Recipe& other : ctx.recipes) {
    if (other.id == recipe.id || app_port(ctx.home, other) != port) continue;
    return std::unexpected(recipe.name + " cannot use port " + number + ": it is the port of " + other.name +
                           ". Nothing was changed. Give " + recipe.name + " another port: TORVO_PORT in " +
                           settings);
  }
  const bool free = ctx.port_free ? (*ctx.port_free)(port) : port_is_free(port);
  if (free) return {};
  if (const auto listed = containers.find(recipe.container); listed != containers.end()) {
    const auto known = uses.find(recipe.container);
    const std::optional<ContainerUse> use =
        known != uses.end() ? known->second : container_use(ctx, std::string(runtime.command), recipe.container);
    if (use ? may_hold_port(use->state) && held_port(*use, port) : may_hold_port(listed->second.state)) return {};
  }
  return std::unexpected(recipe.name + " cannot use port " + number + " on 127.0.0.1: another program holds it. " +
                         "Nothing was changed. Stop that program, or give " + recipe.name +
                         " another port: TORVO_PORT in " + settings);
}

/// The image, when the runtime lacks it, fetched through the runtime's API so the user sees its
/// size and progress. Gives the image that arrived, or none to let the runtime fetch it in its
/// run; fails with the causes when the runtime refused every image, so the run does not fetch
/// them all again only to fail with the runtime's own words.
std::expected<std::optional<std::string>, std::string> pull_through_api(const CommandContext& ctx,
                                                                        const std::string& rt,
                                                                        const Recipe& recipe) {
  if (run_checked(ctx.runner, rt, existence_query(rt, "image", recipe.image))) return std::nullopt;
  const std::optional<std::string> endpoint = find_runtime_api(ctx, rt);
  if (!endpoint) return std::nullopt;
  std::vector<std::string> candidates{recipe.image};
  if (recipe.fallback_image) candidates.push_back(*recipe.fallback_image);
  std::string causes;
  bool every_one_refused = true;
  bool no_connection = false;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (i > 0) {
      say(ctx.output, "The image did not arrive from " + image_registry(recipe.image) + ". Trying " +
                          candidates[i] + " ...");
    }
    auto pulled = pull_image(ctx, *endpoint, candidates[i]);
    if (pulled && run_checked(ctx.runner, rt, existence_query(rt, "image", candidates[i]))) return candidates[i];
    if (pulled || !pulled.error().refused) {
      every_one_refused = false;
      continue;
    }
    causes += "\n" + fetch_failure_sentence(candidates[i], pulled.error().text);
    no_connection = no_connection || is_connection_failure(pulled.error().text);
  }
  if (!every_one_refused) return std::nullopt;
  return std::unexpected(recipe.name + " could not be installed." + causes +
                         (no_connection ? "\nCheck the connection, then try again: zelk start " + recipe.id
                                        : "\nThe recipe names an image that cannot be had; its author can say "
                                          "which one to use."));
}

// Docker daemons before API 1.44 take one network per "run". With more than one, Docker gets
// the same container in three steps: created on the first network, connected to the others
// (the alias given with the network that has it), then started. A container left
// half-connected is removed, so the next start makes it whole instead of starting it without a
// network.
std::expected<void, std::string> run_container(const CommandContext& ctx, const std::string& rt,
                                               const std::string& label, const ContainerRun& run,
                                               const std::vector<std::string>& args) {
  // The list begins "run", "-d", "--name", <name>, "--restart", <policy>, then the networks,
  // one of them maybe as "<network>:alias=<alias>"; everything after them is copied as it is.
  std::vector<std::pair<std::string, std::optional<std::string>>> networks;
  std::size_t i = std::min<std::size_t>(6, args.size());
  std::vector<std::string> create{"create"};
  create.insert(create.end(), args.begin() + 2, args.begin() + static_cast<std::ptrdiff_t>(i));
  for (; i + 1 < args.size() && args[i] == "--network"; i += 2) {
    const std::string& value = args[i + 1];
    const std::size_t mark = value.find(":alias=");
    if (mark == std::string::npos) {
      networks.emplace_back(value, std::nullopt);
    } else {
      networks.emplace_back(value.substr(0, mark), value.substr(mark + 7));
    }
  }
  if (!networks.empty()) {
    create.insert(create.end(), {"--network", networks.front().first});
    if (networks.front().second) create.insert(create.end(), {"--network-alias", *networks.front().second});
  }
  create.insert(create.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (rt != "docker" || networks.size() < 2) return run_container_start(ctx.runner, rt, label, args, run.env);

  if (auto created = run_container_start(ctx.runner, rt, label, create, run.env); !created) return created;
  for (std::size_t n = 1; n < networks.size(); ++n) {
    std::vector<std::string> connect{"network", "connect"};
    if (networks[n].second) connect.insert(connect.end(), {"--alias", *networks[n].second});
    connect.insert(connect.end(), {networks[n].first, run.container});
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
  if (own_image) {
    auto arrived = pull_through_api(ctx, rt, recipe);
    if (!arrived) return std::unexpected(arrived.error());
    if (*arrived) args.back() = **arrived;
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

/// The line before a container is made anew: whether the data it used stays in its use.
std::string updating_line(const std::string& label, const ContainerRun& run, const std::optional<ContainerUse>& use) {
  const std::string line = "Updating " + label + " to the current recipe and settings.";
  if (!use) return line;  // what it used is not known, so nothing is promised
  const std::vector<std::string> mounted = mounted_volumes(run);
  std::vector<std::string> left;
  for (const std::string& volume : use->volumes) {
    if (std::find(mounted.begin(), mounted.end(), volume) == mounted.end()) left.push_back(volume);
  }
  if (left.empty()) return line + " Its data is kept.";
  const bool several = left.size() > 1;
  return line + " Its recipe no longer uses the data volume" + (several ? "s " : " ") + joined_names(left) + ": " +
         (several ? "they stay" : "it stays") + ", but " + label + " starts without that data.";
}

/// One container: nothing when it runs as the recipe and settings say, a start
/// when it is stopped, a new container in place of one made from something else or of one
/// that was never started and will not start.
std::expected<void, std::string> bring_up(const CommandContext& ctx, const ContainerRuntime& runtime,
                                          const Recipe& recipe, const ContainerMap& containers,
                                          const ContainerRun& run, const ContainerUses& uses) {
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
    const auto use = uses.find(run.container);
    say(ctx.output, updating_line(label, run, use != uses.end() ? use->second : std::nullopt));
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
/// of a restart. So the stop is made again, a bounded number of times and for a bounded time in
/// all, until the container stays down. A line says what is waited for; the outcome is not
/// reported: the start's own message is what the user needs.
void stop_and_keep(const CommandContext& ctx, const ContainerRuntime& runtime, const Recipe& recipe,
                   const ContainerMap& listed) {
  const std::vector<std::string> names = listed_containers(recipe, listed);
  if (names.empty()) return;
  const std::string rt(runtime.command);
  say(ctx.output, "Stopping " + recipe.name + " so that " + std::string(runtime.display_name) +
                      " does not start it again and again ...");
  const auto deadline = ctx.now() + stop_budget;
  for (const std::string& name : names) {
    for (int round = 0; round < stop_rounds; ++round) {
      const std::chrono::nanoseconds stop_left = deadline - ctx.now();
      if (stop_left <= std::chrono::nanoseconds::zero()) return;
      // A runtime that does not answer would not answer the next try either.
      if (!ctx.runner.run_captured(rt, {"stop", name}, std::min<std::chrono::nanoseconds>(stop_limit, stop_left))) {
        break;
      }
      const std::chrono::nanoseconds look_left = deadline - ctx.now();
      if (look_left <= std::chrono::nanoseconds::zero()) return;
      auto look = ctx.runner.run_captured(rt, {"inspect", "--format", "{{.State.Status}}", name},
                                          std::min<std::chrono::nanoseconds>(look_limit, look_left));
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

/// The first of the app's containers that the runtime no longer lists: something other than
/// this start removed it.
std::optional<std::string> first_gone(const Recipe& recipe, const ContainerMap& listed) {
  for (const std::string& name : container_names(recipe)) {
    if (!listed.contains(name)) return name;
  }
  return std::nullopt;
}

std::string dying_message(const Recipe& recipe, const std::string& container) {
  if (container == recipe.container) return recipe.name + " does not stay running. See: zelk logs " + recipe.id;
  return down_message(recipe, container);
}

/// The first of the app's containers that its runtime has restarted twice since this start:
/// counted from 0 for the containers this start made or started (the runtimes count from there),
/// else from the count at the first look.
std::optional<std::string> first_dying(const CommandContext& ctx, const std::string& rt, const Recipe& recipe,
                                       const std::set<std::string>& fresh, std::map<std::string, long>& first_seen) {
  const std::vector<std::string> names = container_names(recipe);
  std::vector<std::string> args{"inspect", "--format", "{{.RestartCount}}"};
  args.insert(args.end(), names.begin(), names.end());
  auto look = ctx.runner.run_captured(rt, args, look_limit);
  if (!look || !look->success()) return std::nullopt;
  const std::vector<std::string_view> lines = split_lines(look->stdout_text);
  if (lines.size() != names.size()) return std::nullopt;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::optional<std::uint64_t> count = whole_number(trim_white_space(lines[i]));
    if (!count) continue;
    const long now = static_cast<long>(*count);
    const long before = fresh.contains(names[i]) ? 0 : first_seen.try_emplace(names[i], now).first->second;
    if (now - before >= deaths_to_give_up) return names[i];
  }
  return std::nullopt;
}

/// The ready path every 2 seconds, 120 times. Every fifth attempt also looks at the
/// containers (sooner when 10 seconds have passed since the last look, as with probes that
/// wait for an answer): one the runtime no longer lists went away; one restarted twice since the start
/// does not stay running; an app alone fails at once when its container is down; an app with
/// helpers only when two checks in a row find the same container down, so a helper's restart is
/// forgiven.
std::expected<void, std::string> wait_until_ready(const CommandContext& ctx, const ContainerRuntime& runtime,
                                                  const Recipe& recipe, std::uint16_t port,
                                                  const std::set<std::string>& fresh) {
  say(ctx.output, "Waiting for " + recipe.name + " to answer on port " + std::to_string(port) + " ...");
  const std::string rt(runtime.command);
  // Left as it is, the runtime would start it again and again for ever.
  const auto give_up = [&](const ContainerMap& listed, const std::string& container, std::string message) {
    stop_and_keep(ctx, runtime, recipe, listed);
    if (ctx.quote_app_logs) message += it_said_suffix(last_log_line(ctx, rt, container));
    return std::unexpected(std::move(message));
  };
  std::optional<std::string> previous;
  std::map<std::string, long> first_seen;
  int since_look = 0;
  auto last_look = ctx.now();
  for (int attempt = 1; attempt <= probe_attempts; ++attempt) {
    const std::optional<std::uint16_t> status = ctx.probe(port, recipe.ready);
    if (status && *status >= 200 && *status <= 299) return {};
    if (++since_look == list_every || ctx.now() - last_look >= look_every) {
      since_look = 0;
      last_look = ctx.now();
      if (auto listed = list_containers(ctx.runner, runtime.command)) {
        if (first_gone(recipe, *listed)) {
          return std::unexpected("The containers of " + recipe.name + " went away while it started: another " +
                                 "command or program removed them. Start it again to make them anew.");
        }
        if (auto dying = first_dying(ctx, rt, recipe, fresh, first_seen)) {
          return give_up(*listed, *dying, dying_message(recipe, *dying));
        }
        std::optional<std::string> finding = first_down(recipe, *listed);
        if (finding && (recipe.helpers.empty() || finding == previous)) {
          return give_up(*listed, *finding, down_message(recipe, *finding));
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

  if (auto other = check_other_runtime(ctx, runtime, recipe, containers); !other) {
    return std::unexpected(other.error());
  }
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

  // A secret travels outside the argument list, so its digest marks the container instead.
  std::optional<std::string> key;
  for (ContainerRun& run : runs) {
    if (run.env.empty()) continue;
    if (!key) {
      auto made = settings_digest_key(ctx, recipe);
      if (!made) return std::unexpected(made.error());
      key = std::move(*made);
    }
    seal_secret_values(run, *key);
  }

  // What each container to be made anew uses is asked before anything changes; so is whether
  // the port is free.
  const std::string rt(runtime.command);
  ContainerUses uses;
  std::set<std::string> fresh;  // the containers this start makes or starts
  bool own_changes = false;
  for (const ContainerRun& run : runs) {
    const auto found = containers.find(run.container);
    const bool untouched =
        found != containers.end() && found->second.recipe == run.recipe_hash && found->second.state == "running";
    if (!untouched) fresh.insert(run.container);
    if (!run.helper_name) own_changes = !untouched;
    if (found != containers.end() && found->second.recipe != run.recipe_hash) {
      uses.emplace(run.container, container_use(ctx, rt, run.container));
    }
  }
  if (own_changes) {
    if (auto free = check_port(ctx, runtime, recipe, containers, uses, port); !free) {
      return std::unexpected(free.error());
    }
  }

  for (const ContainerRun& run : runs) {
    if (auto up = bring_up(ctx, runtime, recipe, containers, run, uses); !up) return std::unexpected(up.error());
  }

  if (auto ready = wait_until_ready(ctx, runtime, recipe, port, fresh); !ready) return std::unexpected(ready.error());

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
