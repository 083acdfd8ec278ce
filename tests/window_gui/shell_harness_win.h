#pragma once
// Runs the Win32 shell's real loop on the test's thread, with a small handler of the test's
// own and the stand-in web view, while the test's steps run on a second thread (the driver).
// The handler writes down every event it is given, by name, so the driver can wait for them.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fake_web_view_win.h"
#include "message_loop_win.h"
#include "win_shell_win.h"

namespace zelk {

/// The name of an event as the harness writes it down: "ShowWindow", "MenuClicked(quit)",
/// "PageMessage(text)", "Start", "Close", "Deadline", ...
std::string loop_event_name(const LoopEvent& event);

class ShellHarness {
 public:
  /// What the test's handler does with an event beyond writing it down (on the loop's thread).
  using Reaction = std::function<ControlFlow(const LoopEvent& event, WinShell& shell)>;

  explicit ShellHarness(std::wstring command_interpreter = {});
  ~ShellHarness();
  ShellHarness(const ShellHarness&) = delete;
  ShellHarness& operator=(const ShellHarness&) = delete;

  MessageLoop& loop() { return loop_; }
  WinShell& shell() { return *shell_; }
  std::shared_ptr<EventQueue> proxy() { return loop_.proxy(); }
  /// Only to be read on the loop's thread (on_loop) or after run.
  FakeWebViewLog& web() { return *web_; }

  /// The reaction used unless run is given one: ShowWindow opens or raises the window, a
  /// close request closes it, everything else waits.
  static ControlFlow standard_reaction(const LoopEvent& event, WinShell& shell);

  /// Runs the loop until the driver returns, then ends it; gives the loop's exit code.
  int run(const std::function<void()>& driver, Reaction reaction = standard_reaction);

  /// Runs the function on the loop's thread between two events and waits for it.
  void on_loop(std::function<void()> function);

  /// Waits until the events written down satisfy the condition; false after the time-out.
  bool wait_for(const std::function<bool(const std::vector<std::string>&)>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(20));
  /// Waits until this event has been handled (counted from the start).
  bool wait_for_event(const std::string& name, std::chrono::milliseconds limit = std::chrono::seconds(20));
  /// Waits until everything sent through the proxy and every window message posted before the
  /// call has been handled, with the events those messages sent in turn.
  void settle();

  std::vector<std::string> seen() const;
  /// The events written down between the last two calls of settle(), without its markers.
  std::vector<std::string> since_last_mark() const;

 private:
  ControlFlow handle(LoopEvent event);
  /// Sends a marker through the proxy and waits until it has been handled.
  void send_mark(const std::string& mark);
  /// Posts a message to a window of the loop's thread and waits until it has been handled:
  /// the thread takes posted messages in order, so the ones posted before are handled too.
  void flush_posted_messages();
  static LRESULT CALLBACK flush_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  std::shared_ptr<FakeWebViewLog> web_ = std::make_shared<FakeWebViewLog>();
  MessageLoop loop_;
  std::unique_ptr<WinShell> shell_;
  Reaction reaction_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> seen_;
  std::deque<std::function<void()>> calls_;
  int marks_ = 0;
  HWND flush_window_ = nullptr;
  int flushes_ = 0;
};

/// True while the notification area holds an icon of this owner and id.
bool tray_icon_present(HWND owner, UINT id);

}  // namespace zelk
