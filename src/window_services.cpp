#include "window_services.h"

#include <system_error>
#include <thread>

#include "platform.h"
#include "update.h"

namespace zelk {

namespace {

class SteadyClock final : public Clock {
 public:
  LoopClock::time_point now() const override { return LoopClock::now(); }
};

}  // namespace

std::expected<void, std::string> start_detached_worker(std::function<void()> work) {
  try {
    std::thread(std::move(work)).detach();
  } catch (const std::system_error& error) {
    return std::unexpected(std::string(error.what()));
  }
  return {};
}

WindowServices real_window_services() {
  auto workers = std::make_shared<WorkerServices>();
  workers->data_folder = [] { return data_folder(); };
  workers->runner = std::make_shared<SystemRunner>(SystemRunner::hidden);
  workers->probe = http_probe;
  workers->sleep = [](std::chrono::nanoseconds duration) { std::this_thread::sleep_for(duration); };
  workers->fill_random = fill_random;
  workers->open_in_browser = open_in_browser;
  workers->now = [] { return std::chrono::system_clock::now(); };
  workers->platform = std::string(platform_word);
  workers->start_installer = start_installer;
  return WindowServices{
      std::move(workers),
      start_detached_worker,
      std::make_shared<SteadyClock>(),
      [] { return find_podman_desktop(); },
      [](std::string_view name) { return find_program(name); },
      [](std::string_view name) { return get_env(name); },
  };
}

}  // namespace zelk
