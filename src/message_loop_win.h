#pragma once
/// The window program's event loop on Win32: the thread's message loop over one hidden window.
/// Events from other threads go into an unbounded queue, and the first one into an empty queue
/// posts one wake-up message to the hidden window. Messages to a window (unlike messages to a
/// thread) are also dispatched by the modal loops of menus and of window moves, so nothing
/// waits for those to end unless the loop is held on purpose. A WaitUntil deadline is a timer
/// of the same window. A close from outside (WM_CLOSE to the hidden window, the end of the
/// session, WM_QUIT) ends the loop as the menu's Quit does. Windows builds only.
#include <windows.h>

#include <functional>
#include <memory>
#include <optional>

#include "event_queue.h"
#include "loop_dispatcher.h"

namespace zelk {

class MessageLoop {
 public:
  /// Extra handling of the hidden window's messages (the tray icon's callbacks, the taskbar's
  /// restart); gives a result for the messages it took.
  using MessageHook = std::function<std::optional<LRESULT>(UINT message, WPARAM wparam, LPARAM lparam)>;
  /// What happens when the handler ends the loop with an exit code. The program ends the
  /// process there; a test records the code, and run() then returns it.
  using ExitAction = std::function<void(int code)>;

  MessageLoop();
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  /// The proxy: may be kept and used by any thread, also after the loop is gone.
  std::shared_ptr<EventQueue> proxy() const { return queue_; }
  /// The hidden window: the owner of the tray icon and its menu.
  HWND hidden_window() const { return hidden_; }

  void set_message_hook(MessageHook hook) { hook_ = std::move(hook); }

  /// Runs the handler over LoopStarted and then every event, on the calling thread, until the
  /// handler gives an exit; then calls `on_exit` with the code and returns it.
  int run(LoopDispatcher::Handler handler, ExitAction on_exit);

  /// The loop's own events (the window's close request) go in here, from the loop's thread.
  void post(LoopEvent event);
  /// Handles what is queued now, when nothing else is being handled.
  void pump();
  /// While a menu is open: events wait until release().
  void hold();
  void release();
  /// Ends the loop at once with exit code 0, as the menu's Quit does, whatever is being
  /// handled or held: the program is closed from outside and cannot wait.
  void quit();

 private:
  static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT on_message(UINT message, WPARAM wparam, LPARAM lparam);
  void follow(const ControlFlow& flow);
  void finish(int code);
  void arm_deadline();

  HWND hidden_ = nullptr;
  std::shared_ptr<EventQueue> queue_;
  std::unique_ptr<LoopDispatcher> dispatcher_;
  MessageHook hook_;
  ExitAction on_exit_;
  std::optional<LoopClock::time_point> deadline_;
  std::optional<int> exit_code_;
};

}  // namespace zelk
