// A first start from the window whose port another program already holds: Podman refuses to
// run the container. The window runs its commands with the hidden runner, which shows no
// console, so the user never saw what Podman said; the runner keeps it, and the note the
// window shows ends with Podman's reason.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "e2e_support.h"
#include "event_queue.h"
#include "platform.h"
#include "ready_listener.h"
#include "scoped_env.h"
#include "tcp_listener.h"
#include "window_app.h"
#include "window_flow_parts.h"
#include "window_loop.h"

namespace zelk::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A shell with the tray but no window: the note is read from the loop's state.
class TrayOnlyShell final : public Shell {
 public:
  std::expected<void, std::string> add_tray_icon(std::string_view, const TrayMenu&) override { return {}; }
  void set_tray_menu(const TrayMenu&) override {}
  void set_tooltip(std::string_view) override {}
  void show_notice(std::string_view) override {}
  bool window_open() const override { return false; }
  std::expected<void, std::string> open_window() override { return std::unexpected(std::string("no window here")); }
  void raise_window() override {}
  void close_window() override {}
  void run_script(std::string) override {}
  std::expected<fs::path, std::string> program_folder() const override { return fs::path("/"); }
  std::expected<void, std::string> start_console(std::string_view, std::optional<std::string>) override {
    return std::unexpected(std::string("no consoles here"));
  }
  std::expected<void, std::string> start_detached(const fs::path&) override {
    return std::unexpected(std::string("no programs here"));
  }
};

class WindowStart : public RealRuntime {
 protected:
  void TearDown() override {
    if (!id_.empty()) (void)runner_.run_captured(runtime(), {"rm", "-f", "torvo-" + id_}, 120s);
    RealRuntime::TearDown();
  }
  std::string id_;
};

TEST_P(WindowStart, APortAlreadyTakenIsTheReasonTheNoteGives) {
  id_ = app_id("taken");
  const ReadyListener taken;  // another program holds the app's port on 127.0.0.1
  add_recipe(id_, taken.port());
  const ScopedEnv home("ZELK_HOME", path_to_utf8(home_.path()));
  const ScopedEnv path("PATH", zelk_path());
  const ScopedEnv updates("ZELK_UPDATE_ADDRESS", "http://127.0.0.1:" + std::to_string(unused_port()) + "/latest.txt");

  // The window's own services, with its hidden runner; the update thread stays parked.
  FlowSleeper sleeper;
  FlowThreads threads;
  WindowServices services = real_window_services();
  auto workers = std::make_shared<WorkerServices>(*services.workers);
  workers->sleep = [&sleeper](std::chrono::nanoseconds duration) { sleeper.sleep(duration); };
  workers->open_in_browser = [](const std::string&) -> std::expected<void, std::string> { return {}; };
  services.workers = workers;
  services.start_worker = threads.starter();
  services.find_podman_desktop = [] { return std::optional<fs::path>(); };

  TrayOnlyShell shell;
  auto queue = std::make_shared<EventQueue>([] {});
  auto loop = make_window_loop(false, shell, queue, std::move(services));
  const auto deliver_until = [&](const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 300s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::deque<UserEvent> events = queue->take_all();
      if (events.empty()) std::this_thread::sleep_for(10ms);
      for (UserEvent& event : events) handle_event(*loop, std::move(event));
    }
    return true;
  };
  handle_event(*loop, LoopStarted{});
  WindowApp& app = *loop->app();
  ASSERT_TRUE(deliver_until([&] { return !app.resuming && app.newest_read == app.refreshes_started; }));

  handle_event(*loop, PageMessage{"open:" + id_});
  ASSERT_TRUE(deliver_until([&] { return app.status_note.has_value(); }));
  const std::string& note = *app.status_note;
  EXPECT_TRUE(note.starts_with("Test page " + id_ + " could not be started: \"podman run\" failed (exit code "))
      << note;
  EXPECT_EQ(note.find("see the output above"), std::string::npos) << note;
  EXPECT_TRUE(note.ends_with("address already in use")) << note;

  handle_event(*loop, MenuClicked{"quit"});
  loop.reset();
  queue->close();
  sleeper.end();
  threads.join();
}

INSTANTIATE_TEST_SUITE_P(Runtimes, WindowStart, ::testing::Values(RuntimeUnderTest{"podman", "Podman"}),
                         runtime_name);

}  // namespace
}  // namespace zelk::e2e
