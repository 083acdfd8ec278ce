#include "app_lock.h"

#include <algorithm>
#include <map>

#include "app_lock_file.h"
#include "files.h"
#include "platform.h"
#include "zelk/context.h"

namespace zelk {

namespace fs = std::filesystem;
using app_lock_file::LockFile;

fs::path app_lock_path(const fs::path& home, std::string_view id) {
  return home / path_from_utf8("locks") / path_from_utf8(std::string(id) + ".lock");
}

AppLock::AppLock() = default;
AppLock::~AppLock() = default;
AppLock::AppLock(AppLock&&) noexcept = default;
AppLock& AppLock::operator=(AppLock&&) noexcept = default;

namespace {

// The locks this thread holds, by lock file. A thread that asks again for a lock it holds
// (a start inside a backup, a used app that another used app uses too) shares the hold: a
// second open file of the same lock would wait on the first for ever.
thread_local std::map<fs::path, std::weak_ptr<LockFile>> held_here;

std::shared_ptr<LockFile> held_by_this_thread(const fs::path& path) {
  std::erase_if(held_here, [](const auto& entry) { return entry.second.expired(); });
  const auto found = held_here.find(path);
  return found == held_here.end() ? nullptr : found->second.lock();
}

// None when the lock file is not there and cannot be made (a data folder that cannot be
// written, a full disk): then no command can hold the lock, and the command goes on without it,
// since a stop, for one, must still work.
std::expected<std::optional<LockFile>, std::string> open_lock_file(const fs::path& home, const fs::path& path,
                                                                   std::string_view name) {
  (void)make_data_folder(home, path_from_utf8("locks"));  // a folder that cannot be made shows below
  auto opened = LockFile::open(path);
  if (!opened) {
    return std::unexpected(std::string(name) + " cannot be kept from other Zelk commands: its lock file " +
                           path_to_utf8(path) + " could not be opened: " + opened.error() + ".");
  }
  return opened;
}

}  // namespace

struct AppLockTaking {
  // Takes one app's lock into `lock`, waiting as lock_app says.
  static std::expected<void, std::string> take(const CommandContext& ctx, const Recipe& recipe, AppLock& lock) {
    const fs::path path = app_lock_path(ctx.home, recipe.id);
    if (std::shared_ptr<LockFile> shared = held_by_this_thread(path)) {
      lock.held_.push_back(std::move(shared));
      return {};
    }
    auto opened = open_lock_file(ctx.home, path, recipe.name);
    if (!opened) return std::unexpected(opened.error());
    if (!*opened) return {};
    std::optional<LockFile>& file = *opened;
    bool said = false;
    while (true) {
      auto taken = file->try_take();
      if (!taken) {
        return std::unexpected(recipe.name + " cannot be kept from other Zelk commands: its lock file " +
                               path_to_utf8(path) + " could not be locked: " + taken.error() + ".");
      }
      if (*taken) break;
      if (!said) {
        say(ctx.output, "Waiting for another Zelk command on " + recipe.name + " to end ...");
        said = true;
        lock.waited_ = true;
      }
      if (stop_requested(ctx)) {
        return std::unexpected("The wait for the other Zelk command on " + recipe.name +
                               " was stopped. Nothing was changed.");
      }
      ctx.sleep(app_lock_retry);
    }
    auto shared = std::make_shared<LockFile>(std::move(*file));
    held_here[path] = shared;
    lock.held_.push_back(std::move(shared));
    return {};
  }

  static std::expected<std::optional<AppLock>, std::string> try_once(const fs::path& home, std::string_view id) {
    const fs::path path = app_lock_path(home, id);
    AppLock lock;
    if (std::shared_ptr<LockFile> shared = held_by_this_thread(path)) {
      lock.held_.push_back(std::move(shared));
      return lock;
    }
    auto opened = open_lock_file(home, path, id);
    if (!opened) return std::unexpected(opened.error());
    if (!*opened) return lock;
    std::optional<LockFile>& file = *opened;
    auto taken = file->try_take();
    if (!taken) return std::unexpected(taken.error());
    if (!*taken) return std::optional<AppLock>();
    auto shared = std::make_shared<LockFile>(std::move(*file));
    held_here[path] = shared;
    lock.held_.push_back(std::move(shared));
    return lock;
  }
};

std::expected<AppLock, std::string> lock_app(const CommandContext& ctx, const Recipe& recipe) {
  const Recipe* const one[] = {&recipe};
  return lock_apps(ctx, one);
}

std::expected<AppLock, std::string> lock_apps(const CommandContext& ctx, std::span<const Recipe* const> recipes) {
  std::vector<const Recipe*> ordered(recipes.begin(), recipes.end());
  std::sort(ordered.begin(), ordered.end(), [](const Recipe* a, const Recipe* b) { return a->id < b->id; });
  ordered.erase(std::unique(ordered.begin(), ordered.end(),
                            [](const Recipe* a, const Recipe* b) { return a->id == b->id; }),
                ordered.end());
  AppLock lock;
  for (const Recipe* recipe : ordered) {
    if (auto taken = AppLockTaking::take(ctx, *recipe, lock); !taken) return std::unexpected(taken.error());
  }
  return lock;
}

std::expected<AppLock, std::string> lock_apps(const CommandContext& ctx, std::span<const Recipe> recipes) {
  std::vector<const Recipe*> apps;
  for (const Recipe& recipe : recipes) apps.push_back(&recipe);
  return lock_apps(ctx, apps);
}

std::expected<AppLock, std::string> lock_app_and_used(const CommandContext& ctx, const Recipe& recipe) {
  std::vector<const Recipe*> apps{&recipe};
  if (recipe.starts_used) {
    for (const std::string& id : recipe.uses) {
      const auto used = std::find_if(ctx.recipes.begin(), ctx.recipes.end(),
                                     [&id](const Recipe& known) { return known.id == id; });
      if (used != ctx.recipes.end()) apps.push_back(&*used);
    }
  }
  return lock_apps(ctx, apps);
}

std::expected<std::optional<AppLock>, std::string> try_lock_app(const fs::path& home, std::string_view id) {
  return AppLockTaking::try_once(home, id);
}

}  // namespace zelk
