#include "zelk/backup.h"

#include <algorithm>
#include <system_error>

#include "app_lock.h"
#include "apps_start.h"
#include "envfile.h"
#include "files.h"
#include "fresh_folder.h"
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

/// The app's settings file, copied into the working folder when there is one, under a name
/// made there just now. The copy holds the app's passwords: it is the user's alone on Linux
/// and macOS. The error is the system's text.
std::expected<void, std::string> copy_settings(const fs::path& home, const Recipe& recipe, const fs::path& folder) {
  const fs::path settings = settings_path(home, recipe.id);
  std::error_code error;
  const fs::file_status status = fs::status(settings, error);
  if (status.type() == fs::file_type::not_found) return {};
  auto bytes = read_file(settings);
  if (!bytes) return std::unexpected(bytes.error());
  if (auto written = write_fresh_file(folder / path_from_utf8(backup_settings_name), *bytes); !written) {
    return std::unexpected(written.error().text);
  }
  return {};
}

/// How many names a backup tries for its folders before it gives up; the first is taken only
/// by earlier backups of the same minute.
constexpr int name_attempts = 100;

/// A disk with less room than this, after a failed write into it, is taken as full.
constexpr std::uintmax_t full_disk_room = 1024 * 1024;

/// "<stem>" for the first try, then "<stem>-2", "<stem>-3", ...
std::string numbered(std::string_view stem, int attempt) {
  std::string name(stem);
  if (attempt > 1) name += "-" + std::to_string(attempt);
  return name;
}

/// A new folder beside the final one, ".<stem>.incomplete" or the next free of its numbered
/// names: never one found there, which someone else may own. Its name begins with a dot and
/// says "incomplete", so a backup cut off by a power cut is never taken for a whole one.
std::expected<fs::path, std::string> make_working_folder(const fs::path& base, std::string_view stem) {
  std::string last;
  for (int attempt = 1; attempt <= name_attempts; ++attempt) {
    fs::path candidate = base / path_from_utf8(numbered("." + std::string(stem) + ".incomplete", attempt));
    auto made = make_fresh_folder(candidate);
    if (made) return candidate;
    if (!made.error().taken) return std::unexpected(made.error().text);
    last = made.error().text;
  }
  return std::unexpected(last);
}

/// The working folder, removed with all it holds unless it was given its final name.
struct WorkingFolder {
  explicit WorkingFolder(fs::path made) : path(std::move(made)) {}
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;
  ~WorkingFolder() { discard(); }

  void discard() {
    if (kept || path.empty()) return;
    std::error_code ignored;
    fs::remove_all(path, ignored);
    path.clear();
  }

  fs::path path;
  bool kept = false;
};

/// Chooses the runtime again and starts the app, with the start's own messages.
std::expected<void, std::string> start_again(CommandContext& ctx, const Recipe& recipe) {
  auto again = choose_runtime(ctx.runner);
  if (!again) return std::unexpected(again.error());
  auto started = start_app_with_used(ctx, again->runtime, recipe, again->containers);
  if (!started) return std::unexpected(started.error());
  return {};
}

/// What the steps of one backup share: the app, the base folder and what a failure says.
struct BackupPlace {
  CommandContext& ctx;
  const Recipe& recipe;
  const fs::path& base;
  const std::string& stem;

  /// True when the system's text says the disk is full, or the disk that holds `where` has next
  /// to no room left (on the console the runtime's own words went to the screen, not to us).
  bool disk_full(std::string_view text, const fs::path& where) const {
    if (says_disk_full(text)) return true;
    std::error_code error;
    const fs::space_info room = fs::space(where, error);
    return !error && room.available < full_disk_room;
  }

  std::string full_disk_text() const {
    return "The disk is full: there is no room in " + path_to_utf8(base) + " for the backup of " + recipe.name +
           ", so nothing was kept. Make room there, or name another folder: zelk backup " + recipe.id + " <folder>";
  }

  /// The message of a folder that could not be made.
  std::string made_failure(const std::string& folder_text, const std::string& text) const {
    if (disk_full(text, base)) return full_disk_text();
    return folder_text + " could not be made: " + text;
  }

  /// The message of a failed write into the working folder, which goes (once the disk's room
  /// has been looked at, while the cut file still takes it).
  std::string write_failure(std::string_view what, const std::string& text, WorkingFolder& working) const {
    const bool full = disk_full(text, working.path);
    working.discard();
    return full ? full_disk_text() : std::string(what) + text;
  }

  /// Puts the whole working folder on disk and gives it the first free name of the minute,
  /// "<id>-<stamp>", "<id>-<stamp>-2", ...: a backup never goes over another.
  std::expected<fs::path, std::string> keep(WorkingFolder& working) const {
    const std::string working_text = path_to_utf8(working.path);
    if (auto synced = sync_folder(working.path); !synced) {
      return std::unexpected("The copies in " + working_text + " could not be put on disk: " + synced.error());
    }
    std::string last;
    for (int attempt = 1; attempt <= name_attempts; ++attempt) {
      fs::path final_name = base / path_from_utf8(numbered(stem, attempt));
      auto renamed = rename_fresh_folder(working.path, final_name);
      if (renamed) {
        working.kept = true;
        // The new name is on disk only when the folder that holds it is.
        (void)sync_folder(base);
        return final_name;
      }
      if (!renamed.error().taken) {
        return std::unexpected(working_text + " could not be named " + path_to_utf8(final_name) + ": " +
                               renamed.error().text);
      }
      last = renamed.error().text;
    }
    return std::unexpected(path_to_utf8(base / path_from_utf8(stem)) + " could not be made: " + last);
  }

  /// After a stop request: the working folder goes, the app runs again when the backup stopped
  /// it, and the line says what is left.
  CommandResult stopped_by_request(WorkingFolder& working, bool was_running, bool stopped_any) const {
    working.discard();
    const std::string stopped = "The backup was stopped; nothing was kept. ";
    if (!was_running) return std::unexpected(stopped + recipe.name + " is left stopped, as it was.");
    if (!stopped_any) return std::unexpected(stopped + recipe.name + " still runs.");
    if (auto again = start_again(ctx, recipe); !again) {
      return std::unexpected(stopped + recipe.name + " could not be started again: " + again.error());
    }
    return std::unexpected(stopped + recipe.name + " runs again.");
  }
};

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

  const std::string stem = backup_folder_name(recipe.id, ctx.now());
  const fs::path folder = base / path_from_utf8(stem);
  const std::string folder_text = path_to_utf8(folder);
  // Podman is handed the folder's name as text; a name that is not valid Unicode (a data
  // folder's parent on Windows can have one) has none, and nothing is touched.
  if (!path_to_utf8_exact(folder)) {
    return std::unexpected(folder_text +
                           " cannot be handed to Podman: its name is not valid Unicode. Name another folder: zelk "
                           "backup <app> <folder>");
  }

  // From here on a Ctrl-C is only noted: the backup takes away what it made and leaves the app
  // as it found it.
  watch_interrupts(ctx);
  const BackupPlace place{ctx, recipe, base, stem};

  // The backup holds the app's passwords: the folders made for it are the user's alone. A base
  // folder that is there already keeps the rights its owner gave it.
  std::error_code absent;
  if (!fs::is_directory(base, absent)) {
    if (auto made = make_private_folder(base); !made) {
      return std::unexpected(place.made_failure(folder_text, made.error()));
    }
  }
  auto made = make_working_folder(base, stem);
  if (!made) return std::unexpected(place.made_failure(folder_text, made.error()));
  WorkingFolder working{std::move(*made)};

  if (auto copied = copy_settings(ctx.home, recipe, working.path); !copied) {
    return std::unexpected(place.write_failure("The settings could not be copied: ", copied.error(), working));
  }

  std::vector<std::string> running;
  for (const std::string& name : container_names(recipe)) {
    const auto found = choice->containers.find(name);
    if (found != choice->containers.end() && found->second.state == "running") running.push_back(name);
  }
  const bool was_running = !running.empty();
  bool stopped_any = false;
  if (stop_requested(ctx)) return place.stopped_by_request(working, was_running, stopped_any);
  if (was_running) {
    // A running app may write while its volume is read; the copy is only whole when it rests.
    say(ctx.output, "Stopping " + recipe.name + " for the copy ...");
    for (const std::string& name : running) {
      stopped_any = true;
      auto stopped = run_checked(ctx.runner, podman, {"stop", name});
      if (stop_requested(ctx)) return place.stopped_by_request(working, was_running, stopped_any);
      if (!stopped) return stopped;
    }
  }

  std::expected<void, std::string> copied;
  for (const std::string& volume : existing) {
    say(ctx.output, "Copying " + volume + " ...");
    // Podman writes through a link at the path it is given: it gets a file just made here.
    const fs::path tar = working.path / path_from_utf8(volume + ".tar");
    if (auto placed = write_fresh_file(tar, ""); !placed) {
      copied = std::unexpected(path_to_utf8(tar) + " could not be made: " + placed.error().text);
      break;
    }
    copied = run_attached_checked(ctx.runner, podman,
                                  {"volume", "export", volume, "-o", path_to_utf8_exact(tar).value()});
    // The copy running at the request got it too and has ended; what it wrote goes.
    if (stop_requested(ctx)) return place.stopped_by_request(working, was_running, stopped_any);
    if (!copied) break;
    if (auto synced = sync_file(tar); !synced) {
      copied = std::unexpected("The copy " + path_to_utf8(tar) + " could not be put on disk: " + synced.error());
      break;
    }
  }

  std::optional<fs::path> kept;
  if (copied) {
    auto named = place.keep(working);
    if (named) {
      kept = std::move(*named);
    } else {
      copied = std::unexpected(named.error());
    }
  }
  if (!copied) copied = std::unexpected(place.write_failure("", copied.error(), working));

  const std::string kept_line = kept ? recipe.name + " is backed up in " + path_to_utf8(*kept) +
                                           ". Keep the whole folder: it holds the app's data and its passwords."
                                     : std::string();
  // The app goes back to running even when the copy failed; a failed start is the worse news.
  if (stopped_any) {
    if (auto again = start_again(ctx, recipe); !again) {
      if (kept) say(ctx.output, kept_line);
      return again;
    }
  }
  if (!copied) return copied;

  say(ctx.output, kept_line);
  return {};
}

}  // namespace zelk
