#include "zelk/backup.h"

#include <algorithm>
#include <system_error>

#include "app_lock.h"
#include "apps_start.h"
#include "envfile.h"
#include "files.h"
#include "platform.h"
#include "zelk/commands.h"

namespace zelk {

namespace fs = std::filesystem;

namespace {

std::string two_digits(unsigned value) {
  std::string text = std::to_string(value);
  if (text.size() < 2) text.insert(0, 2 - text.size(), '0');
  return text;
}

std::string four_digits(int value) {
  std::string text = std::to_string(value);
  if (text.size() < 4) text.insert(0, 4 - text.size(), '0');
  return text;
}

/// The app's settings file, copied into the backup folder when there is one. The copy holds
/// the app's passwords, so it is written as the settings file is (write_file_atomically: the
/// user's alone on Linux and macOS), and replaces an earlier copy of the same minute.
std::expected<void, std::string> copy_settings(const fs::path& home, const Recipe& recipe, const fs::path& folder) {
  const fs::path settings = settings_path(home, recipe.id);
  std::error_code error;
  const fs::file_status status = fs::status(settings, error);
  if (status.type() == fs::file_type::not_found) return {};
  auto bytes = read_file(settings);
  if (!bytes) return std::unexpected("The settings could not be copied: " + bytes.error());
  if (auto written = write_file_atomically(folder / path_from_utf8(backup_settings_name), *bytes); !written) {
    return std::unexpected("The settings could not be copied: " + written.error());
  }
  return {};
}

}  // namespace

std::expected<RuntimeChoice, std::string> require_podman_for_backup(const CommandRunner& runner) {
  auto choice = choose_runtime(runner);
  if (!choice) return std::unexpected(choice.error());
  if (choice->runtime.command != "podman") {
    return std::unexpected("Backups need Podman. " + std::string(choice->runtime.display_name) +
                           " has no command to copy an app's data volumes.");
  }
  return choice;
}

std::vector<std::string> app_data_volumes(const Recipe& recipe) {
  std::vector<std::string> volumes;
  for (std::string& name : volume_names(recipe)) {
    if (std::find(volumes.begin(), volumes.end(), name) == volumes.end()) volumes.push_back(std::move(name));
  }
  return volumes;
}

ExistingVolumes::ExistingVolumes(const CommandRunner& runner, std::string runtime_command,
                                 std::span<const std::string> names)
    : runner_(runner), runtime_command_(std::move(runtime_command)), names_(names) {}

std::optional<std::string> ExistingVolumes::next() {
  while (position_ < names_.size()) {
    const std::string& name = names_[position_++];
    if (run_checked(runner_, runtime_command_, existence_query(runtime_command_, "volume", name))) return name;
  }
  return std::nullopt;
}

std::vector<std::string> ExistingVolumes::rest() {
  std::vector<std::string> found;
  while (std::optional<std::string> name = next()) found.push_back(std::move(*name));
  return found;
}

MissingBackupFiles::MissingBackupFiles(fs::path folder, std::span<const std::string> volumes)
    : folder_(std::move(folder)), volumes_(volumes) {}

std::optional<std::string> MissingBackupFiles::next() {
  while (position_ < volumes_.size()) {
    std::string file = volumes_[position_++] + ".tar";
    std::error_code error;
    // Anything at that path counts as present; a path that cannot be looked at counts as
    // missing, since the import could not read it either.
    if (fs::symlink_status(folder_ / path_from_utf8(file), error).type() == fs::file_type::not_found || error) {
      return file;
    }
  }
  return std::nullopt;
}

ExistingVolumes existing_volumes(const CommandRunner& runner, std::string runtime_command,
                                 std::span<const std::string> names) {
  return ExistingVolumes(runner, std::move(runtime_command), names);
}

MissingBackupFiles missing_backup_files(fs::path folder, std::span<const std::string> volumes) {
  return MissingBackupFiles(std::move(folder), volumes);
}

std::string backup_folder_name(std::string_view id, std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const sys_time<minutes> minute = std::max(floor<minutes>(time), sys_time<minutes>{});
  const sys_days day = floor<days>(minute);
  const year_month_day date{day};
  const hh_mm_ss<minutes> clock{minute - day};
  return std::string(id) + "-" + four_digits(static_cast<int>(date.year())) + "-" +
         two_digits(static_cast<unsigned>(date.month())) + "-" + two_digits(static_cast<unsigned>(date.day())) + "-" +
         two_digits(static_cast<unsigned>(clock.hours().count())) +
         two_digits(static_cast<unsigned>(clock.minutes().count()));
}

std::optional<fs::path> default_backup_base(const fs::path& home) {
  fs::path folder = home;
  // "C:\Users\me\.torvo\" names the same folder as "C:\Users\me\.torvo".
  if (!folder.has_filename() && folder.has_relative_path()) folder = folder.parent_path();
  if (!folder.has_relative_path()) return std::nullopt;
  return folder.parent_path() / path_from_utf8(default_backup_folder_name);
}

CommandResult cmd_backup(CommandContext& ctx, const Args& args) {
  auto app = app_argument(args, ctx.recipes, args[0]);
  if (!app) return std::unexpected(app.error());
  const Recipe& recipe = **app;
  auto held = lock_app_and_used(ctx, recipe);  // the copy may end with a start
  if (!held) return std::unexpected(held.error());

  auto choice = require_podman_for_backup(ctx.runner);
  if (!choice) return std::unexpected(choice.error());
  const std::string podman(choice->runtime.command);

  const std::vector<std::string> volumes = app_data_volumes(recipe);
  const std::vector<std::string> existing = existing_volumes(ctx.runner, podman, volumes).rest();
  if (existing.empty()) return std::unexpected(recipe.name + " has no data on this computer yet.");

  fs::path base;
  if (args.size() >= 3) {
    base = path_from_utf8(args[2]);
  } else if (std::optional<fs::path> beside = default_backup_base(ctx.home)) {
    base = std::move(*beside);
  } else {
    return std::unexpected("No folder for backups was found. Name one: zelk backup <app> <folder>");
  }

  // Two backups in one minute share the folder: the later one replaces the earlier's files.
  const fs::path folder = base / path_from_utf8(backup_folder_name(recipe.id, ctx.now()));
  const std::string folder_text = path_to_utf8(folder);
  // Podman is handed the folder's name as text; a name that is not valid Unicode (a data
  // folder's parent on Windows can have one) has none, and nothing is touched.
  if (!path_to_utf8_exact(folder)) {
    return std::unexpected(folder_text +
                           " cannot be handed to Podman: its name is not valid Unicode. Name another folder: zelk "
                           "backup <app> <folder>");
  }
  // The folder gets the app's passwords: it and the folders made for it are the user's alone.
  if (auto made = make_private_folder(folder); !made) {
    return std::unexpected(folder_text + " could not be made: " + made.error());
  }

  if (auto copied = copy_settings(ctx.home, recipe, folder); !copied) return copied;

  std::vector<std::string> running;
  for (const std::string& name : container_names(recipe)) {
    const auto found = choice->containers.find(name);
    if (found != choice->containers.end() && found->second.state == "running") running.push_back(name);
  }
  if (!running.empty()) {
    // A running app may write while its volume is read; the copy is only whole when it rests.
    say(ctx.output, "Stopping " + recipe.name + " for the copy ...");
    for (const std::string& name : running) {
      if (auto stopped = run_checked(ctx.runner, podman, {"stop", name}); !stopped) return stopped;
    }
  }

  std::expected<void, std::string> copied;
  for (const std::string& volume : existing) {
    say(ctx.output, "Copying " + volume + " ...");
    copied = run_attached_checked(
        ctx.runner, podman,
        {"volume", "export", volume, "-o", path_to_utf8_exact(folder / path_from_utf8(volume + ".tar")).value()});
    if (!copied) break;
  }

  // The app goes back to running even when the copy failed; a failed start is the worse news.
  if (!running.empty()) {
    auto again = choose_runtime(ctx.runner);
    if (!again) return std::unexpected(again.error());
    auto started = start_app_with_used(ctx, again->runtime, recipe, again->containers);
    if (!started) return std::unexpected(started.error());
  }
  if (!copied) return copied;

  say(ctx.output, recipe.name + " is backed up in " + folder_text +
                      ". Keep the whole folder: it holds the app's data and its passwords.");
  return {};
}

}  // namespace zelk
