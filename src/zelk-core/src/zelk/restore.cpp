#include <system_error>

#include "app_lock.h"
#include "envfile.h"
#include "files.h"
#include "platform.h"
#include "zelk/backup.h"
#include "zelk/commands.h"

namespace zelk {

namespace fs = std::filesystem;

namespace {

std::string joined(const std::vector<std::string>& parts, std::string_view between) {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += between;
    text += part;
  }
  return text;
}

/// The backup's settings file in place of the app's, written in one step so that a failure
/// leaves the old file whole. A backup without one leaves the app's settings alone.
std::expected<void, std::string> put_back_settings(const fs::path& home, const Recipe& recipe,
                                                   const fs::path& folder) {
  const fs::path copy = folder / path_from_utf8(backup_settings_name);
  std::error_code error;
  if (fs::status(copy, error).type() == fs::file_type::not_found) return {};
  auto bytes = read_file(copy);
  if (!bytes) return std::unexpected("The settings could not be put back: " + bytes.error());
  if (auto written = write_settings(home, recipe.id, *bytes); !written) {
    return std::unexpected("The settings could not be put back " + written.error());
  }
  return {};
}

}  // namespace

CommandResult cmd_restore(CommandContext& ctx, const Args& args) {
  if (args.size() < 3) return std::unexpected("Usage: zelk restore <app> <folder>");
  auto app = app_argument(args, ctx.recipes, args[0]);
  if (!app) return std::unexpected(app.error());
  const Recipe& recipe = **app;
  auto held = lock_app(ctx, recipe);
  if (!held) return std::unexpected(held.error());

  auto choice = require_podman_for_backup(ctx.runner);
  if (!choice) return std::unexpected(choice.error());
  const std::string podman(choice->runtime.command);

  const fs::path folder = path_from_utf8(args[2]);
  const std::vector<std::string> volumes = app_data_volumes(recipe);
  std::vector<std::string> missing;
  MissingBackupFiles lacking = missing_backup_files(folder, volumes);
  while (std::optional<std::string> file = lacking.next()) missing.push_back(std::move(*file));
  if (!missing.empty()) {
    return std::unexpected(args[2] + " is not a backup of " + recipe.name + ": " + joined(missing, ", ") +
                           " is missing.");
  }

  // Nothing is ever written over: one volume with data is enough to refuse.
  if (std::optional<std::string> found = existing_volumes(ctx.runner, podman, volumes).next()) {
    return std::unexpected(recipe.name + " still has data on this computer, in " + *found +
                           ". A backup goes back only into an app without data, so nothing is written over. "
                           "To replace the data: zelk remove " + recipe.id + ", then \"podman volume rm " +
                           joined(volumes, " ") + "\", then restore again.");
  }

  for (const std::string& volume : volumes) {
    say(ctx.output, "Putting back " + volume + " ...");
    if (auto created = run_checked(ctx.runner, podman, {"volume", "create", volume}); !created) return created;
    if (auto imported = run_attached_checked(
            ctx.runner, podman,
            {"volume", "import", volume, path_to_utf8(folder / path_from_utf8(volume + ".tar"))});
        !imported) {
      return imported;
    }
  }

  if (auto settings = put_back_settings(ctx.home, recipe, folder); !settings) return settings;

  say(ctx.output, recipe.name + " is restored. Start it: zelk start " + recipe.id);
  return {};
}

}  // namespace zelk
