#include <algorithm>
#include <system_error>

#include "app_lock.h"
#include "envfile.h"
#include "files.h"
#include "lines.h"
#include "platform.h"
#include "tar_check.h"
#include "unicode.h"
#include "utf8.h"
#include "zelk/backup.h"
#include "zelk/commands.h"

namespace zelk {

namespace fs = std::filesystem;

namespace {

// A settings file holds a port, a few passwords and chosen values: a copy larger than this is
// no copy of one.
constexpr std::size_t settings_copy_limit = 64 * 1024;

constexpr std::string_view damaged_advice =
    " The backup is damaged or unsafe: restore from another copy of it, or from a backup you made yourself with "
    "\"zelk backup\".";

std::string joined(const std::vector<std::string>& parts, std::string_view between) {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += between;
    text += part;
  }
  return text;
}

/// What a backup file is when it is not a plain file, for the sentence that refuses it; none
/// for a plain file (or nothing at all).
std::optional<std::string_view> not_plain_kind(const fs::path& path) {
  std::error_code error;
  const fs::file_type type = fs::symlink_status(path, error).type();
  if (type == fs::file_type::regular || type == fs::file_type::not_found || error) return std::nullopt;
  if (type == fs::file_type::symlink) return "a symbolic link";
  if (type == fs::file_type::directory) return "a folder";
  return "a special file";
}

std::string not_plain_message(const fs::path& path, std::string_view kind, std::string_view what) {
  return path_to_utf8(path) + " is " + std::string(kind) + ", not " + std::string(what) +
         ", so nothing was restored." + std::string(damaged_advice);
}

/// The names the app's settings file holds lines of: its port, the secrets it is given and the
/// values its recipe lets the user choose.
std::vector<std::string> setting_names(const Recipe& recipe) {
  std::vector<std::string> names{"TORVO_PORT"};
  for (std::string_view line : split_lines(recipe.settings)) {
    const std::size_t equals = line.find('=');
    if (equals != std::string_view::npos && !line.starts_with('#')) names.emplace_back(line.substr(0, equals));
  }
  for (const auto& [name, length] : secrets_in_use(recipe)) names.push_back(name);
  return names;
}

/// The backup's settings with only the lines of names the app uses (and its comments and blank
/// lines); what was left out, by name, or by line number for a line that sets no name.
struct OwnSettings {
  std::string text;
  std::vector<std::string> left_out;
};

OwnSettings own_settings(const Recipe& recipe, std::string_view copy) {
  const std::vector<std::string> names = setting_names(recipe);
  OwnSettings own;
  std::size_t number = 0;
  for (std::string_view line : split_lines(copy)) {
    ++number;
    const std::size_t equals = line.find('=');
    const std::string_view name = line.substr(0, std::min(equals, line.size()));
    if (line.starts_with('#') || trim_white_space(line).empty() ||
        (equals != std::string_view::npos && std::find(names.begin(), names.end(), name) != names.end())) {
      own.text.append(line).push_back('\n');
    } else if (equals != std::string_view::npos && !name.empty()) {
      own.left_out.push_back(visible_text(shorten_text(name, 40)));
    } else {
      own.left_out.push_back("line " + std::to_string(number));
    }
  }
  return own;
}

/// The backup's settings copy, when it has one, taken only as a plain file of a settings
/// file's size in UTF-8.
std::expected<std::optional<std::string>, std::string> read_settings_copy(const fs::path& copy) {
  if (std::optional<std::string_view> kind = not_plain_kind(copy)) {
    return std::unexpected(not_plain_message(copy, *kind, "a copy of settings"));
  }
  std::error_code error;
  if (fs::symlink_status(copy, error).type() == fs::file_type::not_found) return std::nullopt;
  auto bytes = read_plain_file(copy, settings_copy_limit);
  if (!bytes) {
    switch (bytes.error().kind) {
      case PlainFileError::Kind::NotPlain:
        return std::unexpected(not_plain_message(copy, "no plain file", "a copy of settings"));
      case PlainFileError::Kind::TooLarge:
        return std::unexpected(path_to_utf8(copy) + " is larger than a copy of settings can be (64 KB), so nothing "
                                                    "was restored." + std::string(damaged_advice));
      case PlainFileError::Kind::System:
        break;
    }
    return std::unexpected(path_to_utf8(copy) + " cannot be read, so nothing was restored: " + bytes.error().text);
  }
  if (!is_valid_utf8(*bytes)) {
    return std::unexpected(path_to_utf8(copy) + " is not UTF-8 text, so nothing was restored." +
                           std::string(damaged_advice));
  }
  return std::move(*bytes);
}

/// The refusal for a backup's settings when the app has settings or containers of its own;
/// none when it has neither.
std::optional<std::string> installed_refusal(const fs::path& home, const Recipe& recipe,
                                             const ContainerMap& containers) {
  const fs::path settings = settings_path(home, recipe.id);
  std::error_code error;
  if (fs::symlink_status(settings, error).type() != fs::file_type::not_found) {
    return recipe.name + " already has settings on this computer, in " + path_to_utf8(settings) +
           ". A backup's settings go back only into an app without them, so its passwords are not written over. "
           "To take the backup's settings instead: zelk remove " + recipe.id +
           ", then delete that file, then restore again.";
  }
  for (const std::string& name : container_names(recipe)) {
    if (containers.contains(name)) {
      return recipe.name + " is installed on this computer. A backup's settings go back only into an app that is "
                           "not installed, so its passwords are not written over. To take the backup's settings "
                           "instead: zelk remove " + recipe.id + ", then restore again.";
    }
  }
  return std::nullopt;
}

/// Removes the volumes this restore made, and says what became of them and of the settings.
std::string undo(const CommandContext& ctx, const std::string& podman, const std::vector<std::string>& made) {
  std::vector<std::string> kept;
  for (const std::string& volume : made) {
    if (!run_checked(ctx.runner, podman, {"volume", "rm", volume})) kept.push_back(volume);
  }
  if (made.empty()) return "Nothing was put back, and the settings are as they were.";
  const bool one = made.size() == 1;
  if (kept.empty()) {
    return std::string(one ? "The volume" : "The volumes") + " this restore had made (" + joined(made, ", ") +
           (one ? ") is" : ") are") + " removed again, and the settings are as they were.";
  }
  return "The settings are as they were, but " + std::string(kept.size() == 1 ? "the volume " : "the volumes ") +
         joined(kept, ", ") + (kept.size() == 1 ? " is" : " are") + " left half filled: remove " +
         (kept.size() == 1 ? "it" : "them") + " with \"podman volume rm " + joined(kept, " ") +
         "\" before you restore again.";
}

std::string stopped(const Recipe& recipe, const std::string& outcome) {
  return "The restore of " + recipe.name + " was stopped. " + outcome;
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
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    return std::unexpected(args[2] + " is not a folder on this computer. Name the folder that holds the backup: "
                                     "zelk restore " + recipe.id + " <folder>");
  }
  const std::vector<std::string> volumes = app_data_volumes(recipe);
  std::vector<std::string> missing;
  MissingBackupFiles lacking = missing_backup_files(folder, volumes);
  while (std::optional<std::string> file = lacking.next()) missing.push_back(std::move(*file));
  const fs::path settings_copy = folder / path_from_utf8(backup_settings_name);
  // An app without data volumes has only its settings to put back.
  if (volumes.empty() && fs::symlink_status(settings_copy, error).type() == fs::file_type::not_found) {
    missing.emplace_back(backup_settings_name);
  }
  if (!missing.empty()) {
    return std::unexpected(args[2] + " is not a backup of " + recipe.name + ": " + joined(missing, ", ") +
                           " is missing.");
  }
  for (const std::string& volume : volumes) {
    const fs::path file = folder / path_from_utf8(volume + ".tar");
    if (std::optional<std::string_view> kind = not_plain_kind(file)) {
      return std::unexpected(not_plain_message(file, *kind, "a volume's copy"));
    }
  }
  auto copy = read_settings_copy(settings_copy);
  if (!copy) return std::unexpected(copy.error());

  // Nothing is ever written over: one volume with data is enough to refuse.
  if (std::optional<std::string> found = existing_volumes(ctx.runner, podman, volumes).next()) {
    return std::unexpected(recipe.name + " still has data on this computer, in " + *found +
                           ". A backup goes back only into an app without data, so nothing is written over. "
                           "To replace the data: zelk remove " + recipe.id + ", then \"podman volume rm " +
                           joined(volumes, " ") + "\", then restore again.");
  }
  if (*copy) {
    if (std::optional<std::string> refused = installed_refusal(ctx.home, recipe, choice->containers)) {
      return std::unexpected(std::move(*refused));
    }
  }

  // Every copy is read through before anything is made: a cut or hostile archive is refused
  // while the app is still as it was.
  for (const std::string& volume : volumes) {
    if (auto checked = check_volume_tar(folder / path_from_utf8(volume + ".tar")); !checked) return checked;
  }

  // From here on a Ctrl-C lets the running import end, and what was made goes again.
  watch_interrupts(ctx);
  std::vector<std::string> made;
  for (const std::string& volume : volumes) {
    if (stop_requested(ctx)) return std::unexpected(stopped(recipe, undo(ctx, podman, made)));
    say(ctx.output, "Putting back " + volume + " ...");
    auto created = run_checked(ctx.runner, podman, {"volume", "create", volume});
    if (created) made.push_back(volume);
    if (stop_requested(ctx)) {
      // A create ended by the same Ctrl-C may have made the volume all the same; it had none before.
      const std::vector<std::string> asked{volume};
      if (!created && existing_volumes(ctx.runner, podman, asked).next()) made.push_back(volume);
      return std::unexpected(stopped(recipe, undo(ctx, podman, made)));
    }
    if (!created) return std::unexpected(created.error() + "\n" + undo(ctx, podman, made));
    auto imported = run_attached_checked(
        ctx.runner, podman, {"volume", "import", volume, path_to_utf8(folder / path_from_utf8(volume + ".tar"))});
    if (stop_requested(ctx)) return std::unexpected(stopped(recipe, undo(ctx, podman, made)));
    if (!imported) return std::unexpected(imported.error() + "\n" + undo(ctx, podman, made));
  }

  if (*copy) {
    const OwnSettings own = own_settings(recipe, **copy);
    if (auto written = write_settings(ctx.home, recipe.id, own.text); !written) {
      return std::unexpected("The settings could not be put back " + written.error() + "\n" + undo(ctx, podman, made));
    }
    if (!own.left_out.empty()) {
      say(ctx.output, "Left out of the backup's settings, as " + recipe.name +
                          " does not use them: " + joined(own.left_out, ", ") + ".");
    }
  }

  say(ctx.output, recipe.name + " is restored. Start it: zelk start " + recipe.id);
  return {};
}

}  // namespace zelk
