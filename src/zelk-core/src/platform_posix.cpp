#include <fcntl.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <future>
#include <optional>
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

namespace {

// xdg-open hands the address to the browser and then ends, with a code that says whether it
// could. One that is still busy after this long counts as handed on.
constexpr std::chrono::seconds opener_answer_limit{30};

/// The end of the process as waitpid gives it.
int reaped_status(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 0;
  }
  return status;
}

}  // namespace

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
  if (rc == ENOENT) {
    return std::unexpected("xdg-open was not found (" + os_error_text(rc) + "); it comes with the package xdg-utils");
  }
  if (rc != 0) return std::unexpected(os_error_text(rc));

  // Its end is awaited on a thread of its own, which goes on collecting it when the answer
  // takes longer than the limit, so that no finished process is left behind.
  std::optional<int> status;
  try {
    std::promise<int> ended;
    std::future<int> answer = ended.get_future();
    std::thread([pid, ended = std::move(ended)]() mutable { ended.set_value(reaped_status(pid)); }).detach();
    if (answer.wait_for(opener_answer_limit) == std::future_status::ready) status = answer.get();
  } catch (const std::system_error&) {
    status = reaped_status(pid);  // no thread to spare: waited for here
  }
  if (!status || (WIFEXITED(*status) && WEXITSTATUS(*status) == 0)) return {};
  if (WIFEXITED(*status)) {
    return std::unexpected("xdg-open ended with exit code " + std::to_string(WEXITSTATUS(*status)));
  }
  return std::unexpected(std::string("xdg-open was stopped by a signal"));
}

}  // namespace zelk
