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

// Only the folder Zelk chose itself is deleted; a folder named with ZELK_HOME is the user's.
bool is_default_folder(const std::filesystem::path& home) {
  std::filesystem::path folder = home;
  if (!folder.has_filename()) folder = folder.parent_path();
  return folder.filename() == path_from_utf8(".torvo");
}

CommandResult remove_everything(CommandContext& ctx, const Args& args) {
  auto held = lock_apps(ctx, ctx.recipes);
  if (!held) return std::unexpected(held.error());
  auto choice = choose_runtime(ctx.runner);
  if (!choice) return std::unexpected(choice.error());
  const std::string rt(choice->runtime.command);

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
  const bool delete_folder = is_default_folder(ctx.home);
  const std::string folder = path_to_utf8(ctx.home);

  if (args.size() < 3 || args[2] != "--yes") {
    say(ctx.output, "This removes for good: " + std::to_string(containers.size()) + " containers and " +
                        std::to_string(volumes.size()) + " data volumes with everything saved in the apps" +
                        (delete_folder ? ", and the folder " + folder : std::string()) +
                        ".\nBack up what you want to keep first: zelk backup <app>\n"
                        "To go ahead: zelk remove --everything --yes");
    return {};
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
        "Every app and its data are removed. Uninstall the Zelk, and Podman if nothing else needs it, the way "
        "you installed them.");
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
