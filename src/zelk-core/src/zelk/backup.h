#pragma once
/// What "backup", "restore" and "remove --everything" share: Podman as the only runtime that
/// can copy volumes, which of an app's data volumes exist, which files a backup folder lacks,
/// and where a backup goes. Nothing here keeps state between calls; each call may run on any
/// thread.

#include <chrono>
#include <cstddef>
#include <expected>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recipe.h"
#include "runner.h"
#include "runtime.h"

namespace zelk {

/// The folder, beside the data folder, that holds backups when the command names none.
inline constexpr std::string_view default_backup_folder_name = "Valdroven AI Zelk backups";

/// The name of the settings file's copy inside a backup folder.
inline constexpr std::string_view backup_settings_name = "settings.env";

/// The runtime choice when the runtime that answers is Podman; the choice's own message when
/// none answers; "Backups need Podman. <runtime> has no command to copy an app's data
/// volumes." for any other runtime.
std::expected<RuntimeChoice, std::string> require_podman_for_backup(const CommandRunner& runner);

/// The app's data volumes in recipe order (the app's mounts, then each helper's), each name
/// once: a volume that the app and a helper share is copied and put back once.
std::vector<std::string> app_data_volumes(const Recipe& recipe);

/// A step over volume names that gives, one call at a time, the next volume the runtime says
/// exists ("podman volume exists <name>", or Docker's "docker volume inspect <name>",
/// succeeds). A failed question counts as a volume that does not exist. The names and the
/// runner are borrowed and must outlive the step.
class ExistingVolumes {
 public:
  ExistingVolumes(const CommandRunner& runner, std::string runtime_command, std::span<const std::string> names);

  /// The next volume that exists, or none when the names are used up.
  std::optional<std::string> next();

  /// Every remaining volume that exists, in order.
  std::vector<std::string> rest();

 private:
  const CommandRunner& runner_;
  std::string runtime_command_;
  std::span<const std::string> names_;
  std::size_t position_ = 0;
};

/// A step over volume names that gives, one call at a time, the next file name
/// "<volume>.tar" that the folder has no file or folder of. The names are borrowed.
class MissingBackupFiles {
 public:
  MissingBackupFiles(std::filesystem::path folder, std::span<const std::string> volumes);

  /// The next missing file name, or none when the names are used up.
  std::optional<std::string> next();

 private:
  std::filesystem::path folder_;
  std::span<const std::string> volumes_;
  std::size_t position_ = 0;
};

/// The step over the names that gives the volumes that exist.
ExistingVolumes existing_volumes(const CommandRunner& runner, std::string runtime_command,
                                 std::span<const std::string> names);

/// The step over the app's volumes that gives the "<volume>.tar" files the folder lacks.
MissingBackupFiles missing_backup_files(std::filesystem::path folder, std::span<const std::string> volumes);

/// "<id>-<YYYY>-<MM>-<DD>-<HHMM>" of the time in UTC; a time before 1970 counts as
/// 1970-01-01 00:00.
std::string backup_folder_name(std::string_view id, std::chrono::system_clock::time_point time);

/// "Valdroven AI Zelk backups" in the folder that holds the data folder; none when the data
/// folder is a root and so has no folder around it.
std::optional<std::filesystem::path> default_backup_base(const std::filesystem::path& home);

}  // namespace zelk
