// Starts from the window, whose runner is hidden (no console): the user sees only the note,
// so it says what the program that failed said. A first start whose port another program
// already holds is refused before the runtime is asked to run anything, and the note says so.
// An app that ends at once: the note quotes the last line it wrote.

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

// The window's loop with its own services and hidden runner, the tray only; the update thread
// stays parked. The test's thread handles the events, as the loop's would.
class TrayWindow {
 public:
  TrayWindow(const fs::path& home, const std::string& path)
      : home_("ZELK_HOME", path_to_utf8(home)),
        path_("PATH", path),
        updates_("ZELK_UPDATE_ADDRESS", "http://127.0.0.1:" + std::to_string(unused_port()) + "/latest.txt") {
    WindowServices services = real_window_services();
    auto workers = std::make_shared<WorkerServices>(*services.workers);
    workers->sleep = [this](std::chrono::nanoseconds duration) { sleeper_.sleep(duration); };
    workers->open_in_browser = [](const std::string&) -> std::expected<void, std::string> { return {}; };
    services.workers = workers;
    services.start_worker = threads_.starter();
    services.find_podman_desktop = [] { return std::optional<fs::path>(); };
    loop_ = make_window_loop(false, shell_, queue_, std::move(services));
    handle_event(*loop_, LoopStarted{});
  }

  ~TrayWindow() {
    handle_event(*loop_, MenuClicked{"quit"});
    loop_.reset();
    queue_->close();
    sleeper_.end();
    threads_.join();
  }

  WindowApp& app() { return *loop_->app(); }

  void handle(LoopEvent event) { handle_event(*loop_, std::move(event)); }

  /// Handles the events the workers send until `done` holds; false after 300 seconds.
  bool deliver_until(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 300s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::deque<UserEvent> events = queue_->take_all();
      if (events.empty()) std::this_thread::sleep_for(10ms);
      for (UserEvent& event : events) handle_event(*loop_, std::move(event));
    }
    return true;
  }

  /// The note the window shows once the command for the app has ended; none after 300 seconds.
  std::optional<std::string> note_of(const std::string& word, const std::string& id) {
    if (!deliver_until([&] { return !app().resuming && app().newest_read == app().refreshes_started; })) return {};
    handle(PageMessage{word + ":" + id});
    if (!deliver_until([&] { return app().status_note.has_value(); })) return {};
    return app().status_note;
  }

 private:
  ScopedEnv home_;
  ScopedEnv path_;
  ScopedEnv updates_;
  FlowSleeper sleeper_;
  FlowThreads threads_;
  TrayOnlyShell shell_;
  std::shared_ptr<EventQueue> queue_ = std::make_shared<EventQueue>([] {});
  std::unique_ptr<WindowLoop> loop_;
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
  TrayWindow window(home_.path(), zelk_path());
  const std::optional<std::string> note = window.note_of("open", id_);
  ASSERT_TRUE(note);
  // Found out before the runtime is asked to run anything.
  EXPECT_TRUE(note->starts_with("Test page " + id_ + " cannot use port " + std::to_string(taken.port()) +
                                " on 127.0.0.1: another program holds it."))
      << *note;
  EXPECT_EQ(note->find("\"podman run\" failed"), std::string::npos) << *note;
  auto made = runner_.run_captured(runtime(), {"container", "exists", "torvo-" + id_}, 120s);
  EXPECT_TRUE(made && made->exit_code == 1) << describe(made);
}

INSTANTIATE_TEST_SUITE_P(Runtimes, WindowStart, ::testing::Values(RuntimeUnderTest{"podman", "Podman"}),
                         runtime_name);

// The window has no "zelk logs", so its note quotes the last line the app wrote, for both
// runtimes; the app's container is stopped and kept, as from the console.
class WindowStartOfAnAppThatEnds : public WindowStart {};

TEST_P(WindowStartOfAnAppThatEnds, TheNoteQuotesTheLastLineTheAppWrote) {
  id_ = app_id("x");  // short, so that the note's first line is not cut
  const std::string said = "No settings were found in /data";
  // Docker stamps each stream as it reads it, so two lines written on the two streams at once
  // may come back in either order: the app pauses between them, as an app reading its settings.
  add_recipe(id_, free_port(), {"sh", "-c", "echo Reading the settings; sleep 0.2; echo " + said + " >&2; exit 3"});
  TrayWindow window(home_.path(), zelk_path());
  const std::optional<std::string> note = window.note_of("open", id_);
  ASSERT_TRUE(note);
  EXPECT_EQ(*note, "Test page " + id_ + " does not stay running. See: zelk logs " + id_ + "\nIt said: " + said);
  EXPECT_EQ(run_runtime({"inspect", "--format", "{{.State.Status}}", "torvo-" + id_}), "exited\n");
}

INSTANTIATE_TEST_SUITE_P(Runtimes, WindowStartOfAnAppThatEnds,
                         ::testing::Values(RuntimeUnderTest{"podman", "Podman"}, RuntimeUnderTest{"docker", "Docker"}),
                         runtime_name);

}  // namespace
}  // namespace zelk::e2e
