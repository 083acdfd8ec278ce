#pragma once
/// The window program's event loop: one handler that owns the program's whole state, turns
/// every event into a change of it, keeps the tray menu, the tooltip, the status line and the
/// page up to date, starts the workers and times the refreshes. It runs on the loop's thread
/// only and meets the system through the seams of loop_seams.h and window_services.h.
#include <memory>

#include "loop_seams.h"
#include "window_events.h"
#include "window_services.h"

namespace zelk {

struct WindowApp;

/// The loop's state: the program's state once Init has made it, the `--window` switch, the
/// shell, the proxy and the services. Owned by the loop's thread.
class WindowLoop {
 public:
  WindowLoop(bool window_flag, Shell& shell, std::shared_ptr<const LoopProxy> proxy, WindowServices services);
  ~WindowLoop();
  WindowLoop(const WindowLoop&) = delete;
  WindowLoop& operator=(const WindowLoop&) = delete;

  /// The program's state; null until Init has succeeded.
  WindowApp* app();
  const WindowApp* app() const;

  struct State;
  State& state() { return *state_; }

 private:
  std::unique_ptr<State> state_;
};

/// The loop with the real services: the hidden runner, the real probe, sleep, random bytes,
/// browser and data folder, a steady clock and detached worker threads. Workers hold only
/// shared data, so the loop may end (and the process exit) while they still run.
std::unique_ptr<WindowLoop> make_window_loop(bool window_flag, Shell& shell, std::shared_ptr<const LoopProxy> proxy);

/// The loop with the given services (tests plug fakes in).
std::unique_ptr<WindowLoop> make_window_loop(bool window_flag, Shell& shell, std::shared_ptr<const LoopProxy> proxy,
                                             WindowServices services);

/// Handles one event and says what the loop does next: Wait, WaitUntil (while the window is
/// open: the later of the last refresh + 10 s and now + 3 s) or Exit (0 for "quit", 1 when
/// the tray icon cannot be made at the start). The first event must be LoopStarted; user
/// events before it are dropped.
ControlFlow handle_event(WindowLoop& loop, LoopEvent event);

}  // namespace zelk
