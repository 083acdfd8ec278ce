#include "test_context.h"

#include <algorithm>
#include "envfile.h"
#include "files.h"

namespace zelk {

TestContext::TestContext(std::filesystem::path home_folder, std::span<const Recipe> known)
    : home(std::move(home_folder)), recipes(known) {
  probe = [this](std::uint16_t port, std::string_view path) -> std::optional<std::uint16_t> {
    {
      const std::lock_guard lock(probes_mutex);
      probes.emplace_back(port, std::string(path));
    }
    return probe_answer ? probe_answer(port, path) : std::nullopt;
  };
  sleep = [this](std::chrono::nanoseconds duration) { sleeps.push_back(duration); };
  fill_random = [this](std::span<std::uint8_t> buffer) -> std::expected<void, std::string> {
    if (random_error) return std::unexpected(*random_error);
    for (std::uint8_t& byte : buffer) byte = next_random++;
    return {};
  };
  open_in_browser = [this](const std::string& address) -> std::expected<void, std::string> {
    if (browser_error) return std::unexpected(*browser_error);
    opened.push_back(address);
    return {};
  };
  now = [this] { return time; };
  port_free = [this](std::uint16_t port) {
    return std::find(busy_ports.begin(), busy_ports.end(), port) == busy_ports.end();
  };
}

CommandContext TestContext::context(const CommandRunner* runner_override) {
  return CommandContext{
      .home = home,
      .recipes = recipes,
      .runner = runner_override ? *runner_override : runner,
      .output = output,
      .probe = probe,
      .sleep = sleep,
      .fill_random = fill_random,
      .open_in_browser = open_in_browser,
      .platform = platform,
      .now = now,
      .home_is_default = home_is_default,
      .port_free = &port_free,
  };
}

ContainerRun as_started(ContainerRun run, const std::filesystem::path& home) {
  const std::filesystem::path path = settings_key_path(home);
  if (!std::filesystem::exists(path)) {
    std::filesystem::create_directories(home);
    (void)write_file_atomically(path, std::string(64, '7'));
  }
  seal_secret_values(run, read_file(path).value_or(""));
  return run;
}

}  // namespace zelk
