#pragma once
/// One command at a time on one app, across both programs and every thread of the window
/// program. Each app has a lock file, <home>/locks/<id>.lock, that is never deleted; a command
/// that changes the app's containers, volumes or settings holds it from the moment the app is
/// known until it ends. The operating system lets go of it when its holder ends, however it
/// ends, and no child process inherits it.

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recipe.h"

namespace zelk {

struct CommandContext;

/// The lock file of the app: <home>/locks/<id>.lock.
std::filesystem::path app_lock_path(const std::filesystem::path& home, std::string_view id);

namespace app_lock_file {
class LockFile;
}

/// The locks of one or more apps, held until it goes. A thread that already holds an app's
/// lock gets it again at once (the hold is shared), so a command never waits on itself.
class AppLock {
 public:
  AppLock();
  ~AppLock();
  AppLock(AppLock&&) noexcept;
  AppLock& operator=(AppLock&&) noexcept;
  AppLock(const AppLock&) = delete;
  AppLock& operator=(const AppLock&) = delete;

  /// Whether taking it waited for another command: what was read before may have changed.
  bool waited() const { return waited_; }

 private:
  friend struct AppLockTaking;
  std::vector<std::shared_ptr<app_lock_file::LockFile>> held_;
  bool waited_ = false;
};

/// How often a command that waits for an app's lock tries it again.
inline constexpr std::chrono::milliseconds app_lock_retry{200};

/// Takes the app's lock. When another command holds it, says once through the context's output
/// "Waiting for another Zelk command on <name> to end ..." and tries again every
/// app_lock_retry (through ctx.sleep) until it is free, or until the user asks the command to
/// stop. Fails with the finished sentence when the lock file cannot be opened or the wait was
/// stopped. A lock file that is not there and cannot be made (a data folder that cannot be
/// written, a full disk) is not held by anyone and cannot be: the command goes on without it.
std::expected<AppLock, std::string> lock_app(const CommandContext& ctx, const Recipe& recipe);

/// The locks of several apps, taken one by one in the order of their ids (each once), so that
/// two commands that need some of the same apps never wait on each other.
std::expected<AppLock, std::string> lock_apps(const CommandContext& ctx, std::span<const Recipe* const> recipes);
std::expected<AppLock, std::string> lock_apps(const CommandContext& ctx, std::span<const Recipe> recipes);

/// The app's lock with those of the apps its start starts first (the used apps of the
/// context's list, when the recipe starts them), taken as lock_apps takes them.
std::expected<AppLock, std::string> lock_app_and_used(const CommandContext& ctx, const Recipe& recipe);

/// Tries the app's lock once, without a word and without waiting: the lock, or none when
/// another holds it. A lock file that cannot be made gives a lock that holds nothing, as above.
std::expected<std::optional<AppLock>, std::string> try_lock_app(const std::filesystem::path& home,
                                                                std::string_view id);

}  // namespace zelk
