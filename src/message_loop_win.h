#pragma once
/// The window program's event loop on Win32: the thread's message loop over one hidden window.
/// Events from other threads go into an unbounded queue, and the first one into an empty queue
/// posts one wake-up message to the hidden window. Messages to a window (unlike messages to a
/// thread) are also dispatched by the modal loops of menus and of window moves, so nothing
/// waits for those to end unless the loop is held on purpose. A WaitUntil deadline is a timer
/// of the same window. A close from outside (WM_CLOSE posted to any of the thread's windows,
/// the end of the session, WM_QUIT) ends the loop as the menu's Quit does; the program lets go
/// of its single-instance names as soon as such a close begins. Windows builds only.
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
  /// Gives up the program's single-instance names, so that a start from then on becomes the
  /// next instance rather than handing over to this one.
  using LeaveAction = std::function<void()>;
  /// Claims the names again after a session end that was called off; false when another
  /// start has become the instance meanwhile.
  using StayAction = std::function<bool()>;

  MessageLoop();
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  /// The proxy: may be kept and used by any thread, also after the loop is gone.
  std::shared_ptr<EventQueue> proxy() const { return queue_; }
  /// The hidden window: the owner of the tray icon and its menu.
  HWND hidden_window() const { return hidden_; }

  void set_message_hook(MessageHook hook) { hook_ = std::move(hook); }
  void set_instance_actions(LeaveAction leave, StayAction stay) {
    leave_ = std::move(leave);
    stay_ = std::move(stay);
  }

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
  /// A close from outside has begun (the session is about to end): the names go now, once,
  /// before anything else is handled. The loop's end lets go of them too.
  void leave();
  /// The session end was called off: the names are claimed again, or the loop ends when a
  /// new start is the instance now.
  void stay();

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
  LeaveAction leave_;
  StayAction stay_;
  bool left_ = false;
  std::optional<LoopClock::time_point> deadline_;
  std::optional<int> exit_code_;
};

}  // namespace zelk
