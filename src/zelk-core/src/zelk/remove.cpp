#include <algorithm>
#include <system_error>

#include "app_lock.h"
#include "apps_run.h"
#include "apps_start.h"
#include "envfile.h"
#include "platform.h"
#include "runner.h"
#include "runtime.h"
#include "zelk/app_containers.h"
#include "zelk/backup.h"
#include "zelk/commands.h"

namespace zelk {

namespace {

void add_once(std::vector<std::string>& names, const std::string& name) {
  if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
}

std::string counted(std::size_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

/// "A", "A and B", "A, B and C".
std::string named_list(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

CommandResult remove_everything(CommandContext& ctx, const Args& args) {
  auto held = lock_apps(ctx, ctx.recipes);
  if (!held) return std::unexpected(held.error());
  auto choice = choose_runtime(ctx.runner);
  if (!choice) return std::unexpected(choice.error());
  const std::string rt(choice->runtime.command);
  const std::string runtime_name(choice->runtime.display_name);

  std::vector<std::string> containers;
  for (const Recipe& recipe : ctx.recipes) {
    for (const std::string& name : listed_containers(recipe, choice->containers)) add_once(containers, name);
  }
  // A volume that an app and its helper both mount is one volume: counted and removed once.
  std::vector<std::string> declared;
  for (const Recipe& recipe : ctx.recipes) {
    for (const std::string& name : volume_names(recipe)) add_once(declared, name);
  }
  const std::vector<std::string> volumes = existing_volumes(ctx.runner, rt, declared).rest();
  // Only the folder Zelk chose itself is deleted; a folder named with ZELK_HOME is the user's,
  // whatever its name.
  const bool delete_folder = ctx.home_is_default;
  const std::string folder = path_to_utf8(ctx.home);

  if (args.size() < 3 || args[2] != "--yes") {
    std::vector<std::string> apps;
    for (const Recipe& recipe : ctx.recipes) {
      const auto found = [&](const std::vector<std::string>& names, const std::vector<std::string>& among) {
        return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
          return std::find(among.begin(), among.end(), name) != among.end();
        });
      };
      if (found(container_names(recipe), containers) || found(volume_names(recipe), volumes)) {
        apps.push_back(recipe.name);
      }
    }
    const std::string whose =
        apps.size() == 1 ? " in the app " + apps.front() : " in the apps " + named_list(apps);
    const std::string keep = rt == "podman"
                                 ? "Back up what you want to keep first: zelk backup <app>"
                                 : "Backups need Podman, and the apps run with " + runtime_name +
                                       " here: copy what you want to keep out of the apps first.";
    const std::string what =
        apps.empty() ? "No app has containers or data volumes. This removes for good only the apps' images and "
                       "networks that are left"
                     : "This removes for good " + counted(containers.size(), "container", "containers") + " and " +
                           counted(volumes.size(), "data volume", "data volumes") + " with everything saved" +
                           whose + ", and the apps' images and networks";
    say(ctx.output, what + (delete_folder ? ", and the folder " + folder : std::string()) + ".\n" + keep +
                        "\nTo go ahead: zelk remove --everything --yes");
    return {};
  }

  // The markers go with the apps: a later "resume" must not install them again, empty.
  for (const Recipe& recipe : ctx.recipes) {
    if (auto kept = delete_running_marker(ctx.home, recipe)) say(ctx.output, *kept);
  }
  for (const std::string& name : containers) {
    if (auto removed = run_checked(ctx.runner, rt, {"rm", "-f", "-v", name}); !removed) return removed;
  }
  for (const std::string& name : volumes) {
    if (auto removed = run_checked(ctx.runner, rt, {"volume", "rm", "-f", name}); !removed) return removed;
  }
  // Images and networks another app still uses, or that are gone already, stay as they are.
  for (const Recipe& recipe : ctx.recipes) {
    (void)run_checked(ctx.runner, rt, {"rmi", recipe.image});
    for (const RecipeService& helper : recipe.helpers) (void)run_checked(ctx.runner, rt, {"rmi", helper.image});
    for (const std::string& network : app_networks(recipe)) {
      (void)run_checked(ctx.runner, rt, {"network", "rm", network});
    }
  }

  if (delete_folder) {
    *held = AppLock();  // the lock files go with the folder, and Windows deletes no file held open
    std::error_code error;
    std::filesystem::remove_all(ctx.home, error);
    if (error && error != std::errc::no_such_file_or_directory) {
      return std::unexpected("The data folder " + folder + " could not be deleted: " +
                             error_code_text(error));
    }
  } else {
    say(ctx.output, "The data folder " + folder + " was named with ZELK_HOME, so it is left for you to delete.");
  }

  if (uses_podman_machine(ctx.platform) && rt == "podman") {
    say(ctx.output,
        "Every app and its data are removed. Podman's machine still takes disk space: \"podman machine rm\" "
        "gives it back. Then uninstall the Zelk and Podman in the list of installed apps.");
  } else {
    say(ctx.output,
        "Every app and its data are removed. Uninstall the Zelk, and " + runtime_name +
            " if nothing else needs it, the way you installed them.");
  }
  return {};
}

}  // namespace

CommandResult cmd_remove(CommandContext& ctx, const Args& args) {
  if (args.size() >= 2 && args[1] == "--everything") return remove_everything(ctx, args);
  auto app = app_argument(args, ctx.recipes, args[0]);
  if (!app) return std::unexpected(app.error());
  const Recipe& recipe = **app;
  auto held = lock_app(ctx, recipe);
  if (!held) return std::unexpected(held.error());
  auto choice = choose_runtime(ctx.runner);
  if (!choice) return std::unexpected(choice.error());
  const std::vector<std::string> listed = listed_containers(recipe, choice->containers);
  if (listed.empty()) return std::unexpected(recipe.name + " is not installed.");
  if (auto kept = delete_running_marker(ctx.home, recipe)) say(ctx.output, *kept);
  for (const std::string& name : listed) {
    if (auto removed = run_checked(ctx.runner, std::string(choice->runtime.command), {"rm", "-f", "-v", name});
        !removed) {
      return removed;
    }
  }
  say(ctx.output, recipe.name + " is removed. Its data volumes and settings are kept.");
  return {};
}

}  // namespace zelk
