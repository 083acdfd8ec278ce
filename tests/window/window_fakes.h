#pragma once
// Fakes for the window program's seams: a proxy that records what workers send, a clock the
// test moves, a shell that records what the loop shows and starts, a worker starter that
// holds the work until the test runs it, and worker services over a scripted runner.
#include <chrono>
#include <cstdint>
#include <deque>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "loop_seams.h"
#include "scripted_runner.h"
#include "window_events.h"
#include "window_services.h"

namespace zelk {

/// Records every event sent; refuses sends once `accepted` reaches `limit` (the loop is gone).
class RecordingProxy final : public LoopProxy {
 public:
  explicit RecordingProxy(std::optional<std::size_t> limit = std::nullopt) : limit_(limit) {}
  bool send(UserEvent event) const override {
    std::lock_guard lock(mutex_);
    ++attempts_;
    if (limit_ && events_.size() >= *limit_) return false;
    events_.push_back(std::move(event));
    return true;
  }
  std::vector<UserEvent> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  /// Takes the events recorded so far.
  std::vector<UserEvent> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(events_, {});
  }
  std::size_t attempts() const {
    std::lock_guard lock(mutex_);
    return attempts_;
  }

 private:
  std::optional<std::size_t> limit_;
  mutable std::mutex mutex_;
  mutable std::vector<UserEvent> events_;
  mutable std::size_t attempts_ = 0;
};

/// A clock that stands still until the test moves it.
class FakeClock final : public Clock {
 public:
  LoopClock::time_point now() const override { return now_; }
  void advance(std::chrono::nanoseconds by) { now_ += by; }
  LoopClock::time_point now_ = LoopClock::time_point{} + std::chrono::hours(1000);
};

/// Holds each started worker until the test runs it (or runs it at once when `synchronous`, or
/// hands it on to `elsewhere`).
class HeldWorkers {
 public:
  StartWorker starter() {
    return [this](std::function<void()> work) -> std::expected<void, std::string> {
      if (refuse) return std::unexpected(*refuse);
      ++started;
      if (elsewhere) return elsewhere(std::move(work));
      if (synchronous) {
        work();
      } else {
        held.push_back(std::move(work));
      }
      return {};
    };
  }
  /// Runs the held workers in the order they were started, including any they start.
  void run_all() {
    while (!held.empty()) run_next();
  }
  void run_next() {
    auto work = std::move(held.front());
    held.pop_front();
    work();
  }
  std::deque<std::function<void()>> held;
  std::size_t started = 0;
  bool synchronous = false;
  std::optional<std::string> refuse;
  /// When set, work is handed to it (real threads, say) instead of being held.
  StartWorker elsewhere;
};

/// Services a test can script: a scripted runner, a probe that answers from a function, sleeps
/// and opened addresses recorded, counting random bytes, a fixed wall clock.
struct FakeWorkerWorld {
  explicit FakeWorkerWorld(std::optional<std::filesystem::path> home_folder);

  std::shared_ptr<const WorkerServices> services();

  std::optional<std::filesystem::path> home;
  std::shared_ptr<ScriptedRunner> runner = std::make_shared<ScriptedRunner>();
  std::function<std::optional<std::uint16_t>(std::uint16_t, std::string_view)> probe_answer;
  std::string platform = "linux";

  struct Records {
    std::mutex mutex;
    std::vector<std::chrono::nanoseconds> sleeps;
    std::vector<std::string> opened;
    std::vector<std::string> installers;  // "<path> tray=<0|1>"
    std::function<void(std::chrono::nanoseconds)> on_sleep;
  };
  std::shared_ptr<Records> records = std::make_shared<Records>();

  std::vector<std::chrono::nanoseconds> sleeps() {
    std::lock_guard lock(records->mutex);
    return records->sleeps;
  }
  std::vector<std::string> opened() {
    std::lock_guard lock(records->mutex);
    return records->opened;
  }
};

/// A shell that records what the loop shows and starts, with a window that is only a flag.
class FakeShell final : public Shell {
 public:
  std::expected<void, std::string> add_tray_icon(std::string_view tooltip_text, const TrayMenu& tray_menu) override {
    calls.push_back("add_tray_icon");
    if (icon_error) return std::unexpected(*icon_error);
    tooltip = std::string(tooltip_text);
    menu = tray_menu;
    return {};
  }
  void set_tray_menu(const TrayMenu& tray_menu) override {
    calls.push_back("set_tray_menu");
    menu = tray_menu;
  }
  void set_tooltip(std::string_view text) override {
    calls.push_back("set_tooltip");
    tooltip = std::string(text);
  }
  void show_notice(std::string_view text) override { notices.emplace_back(text); }
  bool window_open() const override { return open; }
  std::expected<void, std::string> open_window() override {
    calls.push_back("open_window");
    if (window_error) return std::unexpected(*window_error);
    open = true;
    return {};
  }
  void raise_window() override { calls.push_back("raise_window"); }
  void close_window() override {
    calls.push_back("close_window");
    open = false;
  }
  void run_script(std::string script) override { scripts.push_back(std::move(script)); }
  std::expected<std::filesystem::path, std::string> program_folder() const override { return folder; }
  std::expected<void, std::string> start_console(std::string_view arguments, std::optional<std::string> path) override {
    if (start_error) return std::unexpected(*start_error);
    consoles.push_back({std::string(arguments), std::move(path)});
    return {};
  }
  std::expected<void, std::string> start_detached(const std::filesystem::path& program) override {
    if (start_error) return std::unexpected(*start_error);
    detached.push_back(program);
    return {};
  }

  /// The scripts run that call the page function, e.g. scripts_of("render").
  std::vector<std::string> scripts_of(std::string_view function) const;
  /// The text of the menu item with that id, found in submenus too ("" when there is none).
  const MenuItem* item(std::string_view id) const;

  std::optional<std::string> icon_error;
  std::optional<std::string> window_error;
  std::optional<std::string> start_error;
  bool open = false;
  std::vector<std::string> calls;
  std::vector<std::string> scripts;
  std::vector<std::string> notices;
  TrayMenu menu;
  std::string tooltip;
  std::expected<std::filesystem::path, std::string> folder = std::filesystem::path("/opt/zelk");
  struct Console {
    std::string arguments;
    std::optional<std::string> path;
    bool operator==(const Console&) const = default;
  };
  std::vector<Console> consoles;
  std::vector<std::filesystem::path> detached;
};

}  // namespace zelk
