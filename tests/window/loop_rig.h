#pragma once
// The window loop over fakes: a temporary data folder, a scripted runner, a fake shell, a
// clock the test moves and workers held until the test runs them. The update thread that
// Init starts is set aside (it would look for updates forever); its own tests run it alone.
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "test_folder.h"
#include "window_app.h"
#include "window_fakes.h"
#include "window_loop.h"

namespace zelk {

class LoopRig {
 public:
  LoopRig();

  /// Makes the loop and hands it LoopStarted.
  ControlFlow start(bool window_flag = false);
  ControlFlow handle(LoopEvent event);
  ControlFlow user(UserEvent event) { return handle(LoopEvent(std::move(event))); }
  ControlFlow page(std::string text) { return user(PageMessage{std::move(text)}); }

  /// Runs the held workers and hands the loop what they sent, until nothing is left.
  void settle();
  /// Hands the loop what the workers sent so far.
  void deliver();
  /// Forgets the held workers without running them.
  void drop_workers() { workers.held.clear(); }

  WindowApp& app();
  AppEntry& entry(std::string_view id);
  /// The tray menu item with that id as the shell shows it.
  const MenuItem& item(std::string_view id);
  /// The submenu of the app as the shell shows it.
  const MenuItem& submenu(std::string_view id);
  /// A states read as the refresh numbered `number` would send it, every app not installed
  /// except the given states.
  StatesRead read(std::uint64_t number, std::map<std::string, AppState> states = {}, std::string runtime = "Podman");

  TestFolder folder;
  FakeWorkerWorld world{folder.path()};
  FakeShell shell;
  std::shared_ptr<RecordingProxy> proxy = std::make_shared<RecordingProxy>();
  HeldWorkers workers;
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  std::optional<std::filesystem::path> podman_desktop;
  std::map<std::string, std::string> environment;
  std::map<std::string, std::string> programs;  // what find_program finds; the name itself otherwise
  std::function<void()> update_thread;
  std::unique_ptr<WindowLoop> loop;
};

}  // namespace zelk
