// The window loop with its real services and real worker threads, against the fake runtime
// program found first on PATH as podman(.exe): the start, the first states read, "open:flow"
// through the command dispatcher until the app answers a real listener, the progress lines,
// the command's end, and the page's render document showing the app running.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "app_lock.h"
#include "child_programs.h"
#include "documents.h"
#include "event_queue.h"
#include "files.h"
#include "platform.h"
#include "fake_runtime_calls.h"
#include "ready_listener.h"
#include "scoped_env.h"
#include "tcp_listener.h"
#include "test_folder.h"
#include "tray_menu.h"
#include "window_app.h"
#include "window_fakes.h"
#include "window_flow_parts.h"
#include "window_loop.h"

namespace zelk {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class Pump {
 public:
  Pump() : queue(std::make_shared<EventQueue>([this] { woken(); })) {}

  /// Hands the loop every event until the condition holds (60 seconds at most).
  bool until(WindowLoop& loop, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!done()) {
      std::deque<UserEvent> events = queue->take_all();
      if (events.empty()) {
        std::unique_lock lock(mutex_);
        if (std::chrono::steady_clock::now() > deadline) return false;
        arrived_.wait_for(lock, 50ms);
        continue;
      }
      for (UserEvent& event : events) {
        if (const auto* line = std::get_if<CommandLine>(&event)) lines.push_back(line->line);
        handle_event(loop, std::move(event));
      }
    }
    return true;
  }

  std::shared_ptr<EventQueue> queue;
  std::vector<std::string> lines;

 private:
  void woken() {
    std::lock_guard lock(mutex_);
    arrived_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable arrived_;
};

TEST(WindowFlow, OpenAnAppThroughTheFakeRuntimeAndSeeItRunning) {
  TestFolder root;
  const fs::path bin = root.path() / "bin folder";
  const fs::path data = root.path() / "zelk data";
  const fs::path fake = root.path() / "fake runtime";
  fs::create_directories(bin);
  fs::create_directories(fake);
  ReadyListener listener(fake_container_runs(fake, "torvo-flow"));  // the app's container holds its port
  const std::uint16_t port = listener.port();
  const std::string exe = platform_word == "windows" ? ".exe" : "";
  std::error_code copied;
  fs::copy_file(path_from_utf8(helper_program("fake_podman")), bin / path_from_utf8("podman" + exe), copied);
  ASSERT_FALSE(copied) << copied.message();
  ASSERT_TRUE(
      write_file_atomically(fake / "state.txt", "image\tlocalhost/zelk/flow:1.0\nimage\tlocalhost/zelk/flowdb:1.0\n"));
  fs::create_directories(data / "recipes");
  ASSERT_TRUE(write_file_atomically(data / "recipes" / "flow.yaml", flow_recipe(port)));

  const std::string separator = platform_word == "windows" ? ";" : ":";
  ScopedEnv home("ZELK_HOME", path_to_utf8(data));
  ScopedEnv path("PATH", path_to_utf8(bin) + separator + get_env("PATH").value_or(""));
  ScopedEnv fake_dir("FAKE_PODMAN_DIR", path_to_utf8(fake));
  ScopedEnv updates("ZELK_UPDATE_ADDRESS", "http://127.0.0.1:" + std::to_string(unused_port()) + "/latest.txt");

  FlowSleeper sleeper;
  FlowThreads threads;
  auto opened = std::make_shared<std::vector<std::string>>();
  auto opened_mutex = std::make_shared<std::mutex>();
  WindowServices services = real_window_services();
  auto workers = std::make_shared<WorkerServices>(*services.workers);
  workers->sleep = [&sleeper](std::chrono::nanoseconds duration) { sleeper.sleep(duration); };
  workers->open_in_browser = [opened, opened_mutex](const std::string& address) -> std::expected<void, std::string> {
    std::lock_guard lock(*opened_mutex);
    opened->push_back(address);
    return {};
  };
  services.workers = workers;
  services.start_worker = threads.starter();
  services.find_podman_desktop = [] { return std::optional<fs::path>(); };

  FakeShell shell;
  Pump pump;
  auto loop = make_window_loop(false, shell, pump.queue, std::move(services));
  ASSERT_EQ(handle_event(*loop, LoopStarted{}), ControlFlow::wait());
  WindowApp& app = *loop->app();
  EXPECT_EQ(app.status_line, "Starting what was running before ...");

  // The first read and the resume (nothing was left running).
  ASSERT_TRUE(pump.until(*loop, [&] { return !app.resuming && app.newest_read == app.refreshes_started; }));
  AppEntry* flow = find_entry(app, "flow");
  ASSERT_NE(flow, nullptr);
  const std::string address = "http://127.0.0.1:" + std::to_string(port) + "/";
  EXPECT_EQ(flow->status, AppState::not_installed());
  EXPECT_EQ(flow->address, address);
  EXPECT_EQ(app.status_line, "Podman is running");
  EXPECT_EQ(shell.item("open:flow")->text, "Install and open");

  // Another command works on Flow (as the console's would): the card says that the open waits.
  auto other = try_lock_app(data, "flow");
  ASSERT_TRUE(other && other->has_value());
  handle_event(*loop, PageMessage{"open:flow"});
  EXPECT_EQ(flow->busy, "open");
  EXPECT_EQ(shell.menu.items.at(flow->submenu).text, "Flow  -  starting ...");
  const std::string waits = "Waiting for another Zelk command on Flow to end ...";
  ASSERT_TRUE(pump.until(*loop, [&] { return !pump.lines.empty(); }));
  handle_event(*loop, ShowWindow{});
  ASSERT_FALSE(shell.scripts.empty());
  EXPECT_NE(shell.scripts.back().find("\"status\":\"" + waits + "\",\"tone\":\"busy\""), std::string::npos)
      << shell.scripts.back();
  other->reset();
  ASSERT_TRUE(pump.until(*loop, [&] { return !flow->busy; }));

  EXPECT_EQ(pump.lines, (std::vector<std::string>{waits, "Installing Flow's helper \"db\" with Podman ...",
                                                  "Installing Flow with Podman ...",
                                                  "Waiting for Flow to answer on port " + std::to_string(port) + " ...",
                                                  "Flow is ready: " + address, "Opened " + address}));
  EXPECT_EQ(flow->status, AppState::ready());
  EXPECT_EQ(app.status_line, "Podman is running");
  EXPECT_EQ(shell.tooltip, program_title() + ": Flow running");
  EXPECT_EQ(shell.menu.items.at(flow->submenu).text, "Flow  -  running");
  {
    std::lock_guard lock(*opened_mutex);
    EXPECT_EQ(*opened, std::vector<std::string>{address});
  }
  EXPECT_TRUE(fs::exists(data / "apps" / "flow" / "running"));

  // The window opens and the page is told the app runs.
  handle_event(*loop, ShowWindow{});
  ASSERT_FALSE(shell.scripts.empty());
  std::vector<AppRow> rows;
  for (const AppEntry& e : app.entries) rows.push_back(AppRow{e.recipe.get(), e.message, e.address, e.status, e.busy});
  const RenderSnapshot snapshot{"Podman is running", "Podman", true, false, rows, 1, std::nullopt, std::nullopt};
  EXPECT_EQ(shell.scripts.back(), "render(" + render_document(snapshot) + ")");
  EXPECT_NE(
      shell.scripts.back().find("{\"id\":\"flow\",\"name\":\"Flow\",\"category\":\"Tests\",\"summary\":\"A flow "
                                "through a fake runtime.\",\"status\":\"running\",\"tone\":\"ready\",\"address\":\"" +
                                address + "\""),
      std::string::npos)
      << shell.scripts.back();

  EXPECT_EQ(handle_event(*loop, MenuClicked{"quit"}), ControlFlow::exit(0));
  // The test, unlike the program, waits for its threads before its folders go.
  sleeper.end();
  pump.queue->close();
  threads.join();
}

}  // namespace
}  // namespace zelk
