#include <fcntl.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "platform.h"
#include "runner.h"
#include "utf8.h"

extern char** environ;

namespace zelk {

const std::string_view platform_word = "linux";

std::filesystem::path path_from_utf8(std::string_view text) { return std::filesystem::path(std::string(text)); }

// Paths are bytes here: whatever they hold names them exactly.
std::string path_to_utf8(const std::filesystem::path& path) { return path.native(); }

std::optional<std::string> path_to_utf8_exact(const std::filesystem::path& path) { return path.native(); }

std::optional<std::string> get_env(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::optional<std::filesystem::path> env_path(std::string_view name) {
  std::optional<std::string> value = get_env(name);
  if (!value) return std::nullopt;
  return std::filesystem::path(std::move(*value));
}

std::optional<std::string> get_unicode_env(std::string_view name) {
  std::optional<std::string> value = get_env(name);
  if (!value || !is_valid_utf8(*value)) return std::nullopt;
  return value;
}

std::optional<std::filesystem::path> data_folder() {
  if (auto home = get_env("ZELK_HOME"); home && !home->empty()) return path_from_utf8(*home);
  if (auto user = get_env("HOME"); user && !user->empty()) return path_from_utf8(*user) / ".torvo";
  return std::nullopt;
}

// PATH search is left to the process start itself, as the system's own convention is.
std::string find_program(std::string_view name) { return std::string(name); }

std::expected<void, std::string> fill_random(std::span<std::uint8_t> buffer) {
  std::size_t filled = 0;
  while (filled < buffer.size()) {
    ssize_t got = getrandom(buffer.data() + filled, buffer.size() - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::unexpected("The operating system gave no random data.");
    }
    filled += static_cast<std::size_t>(got);
  }
  return {};
}

std::expected<void, std::string> open_in_browser(const std::string& address) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd <= 2; ++fd) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  std::string program = "xdg-open";
  char* argv[] = {program.data(), const_cast<char*>(address.c_str()), nullptr};
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return std::unexpected(os_error_text(rc));
  // Not waited for here: the browser outlives this call. A thread of its own collects the
  // helper's end so that no finished process is left behind in a long-running program.
  try {
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // Without the thread the ended helper stays a zombie until this program ends; harmless.
  }
  return {};
}

}  // namespace zelk
