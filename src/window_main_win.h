#pragma once
/// The window program's entry: one instance per logon, a second start handing over to the
/// running one, the --window switch, and the loop with its shell. Windows builds only.
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "loop_dispatcher.h"
#include "loop_seams.h"
#include "web_view_win.h"

namespace zelk {

inline constexpr wchar_t instance_mutex_name[] = L"ValdrovenAIZelkTray";
inline constexpr wchar_t show_window_event_name[] = L"ValdrovenAIZelkShowWindow";
/// The running instance's answer to second starts: their signals were taken and the window
/// shown. It stays set until the next start clears it, so one answer reaches every start that
/// waits.
inline constexpr wchar_t show_window_taken_event_name[] = L"ValdrovenAIZelkShowWindowTaken";
/// How long a second start waits for that answer before it ends anyway (an instance that is
/// busy takes the signal later; one that ends lets go of the mutex at once).
inline constexpr DWORD hand_over_wait_ms = 5000;

/// What the entry is built from: the program's own parts, or a test's.
struct WindowProgram {
  std::string page;
  WebViewFactory make_web_view;
  /// Makes the loop's handler for the window flag, the shell and the proxy.
  std::function<LoopDispatcher::Handler(bool window_flag, Shell& shell, std::shared_ptr<const LoopProxy> proxy)>
      make_handler;
  /// Called right after the single-instance mutex is made, before second starts are listened
  /// for.
  std::function<void()> after_instance_claimed;
  /// What the shell starts as "cmd"; empty for the system's own.
  std::wstring command_interpreter;
  /// How long a second start waits for the running instance's answer.
  DWORD hand_over_wait_ms = zelk::hand_over_wait_ms;
};

/// The process's whole run. Returns 0 on a second start that handed over; otherwise the loop
/// ends the process with the handler's exit code after letting go of the single-instance
/// names and taking the tray icon away.
int window_main(const WindowProgram& program);

/// The program's own handler: the window loop with the real services, over this shell.
LoopDispatcher::Handler window_loop_handler(bool window_flag, Shell& shell, std::shared_ptr<const LoopProxy> proxy);

/// Opens or makes the show-window event (auto-reset, not signalled); null when it cannot.
HANDLE signal_running_instance();

/// Makes this process the one instance, or hands it over to the running one. Gives the
/// instance mutex, owned by the calling thread, when this is the first start, or when the
/// running instance ended without taking this start's signal. Gives null when the running
/// instance took the signal, did not answer in time, or the mutex could not be made.
HANDLE claim_instance(HANDLE show_event, HANDLE taken_event, DWORD wait_ms);

/// The instance's side of a second start: a thread turns each signal of the show-window event
/// into ShowWindow, and the start is told its signal was taken once the loop has handled it.
class ShowListener {
 public:
  ShowListener(HANDLE show_event, HANDLE taken_event);
  ~ShowListener();
  ShowListener(const ShowListener&) = delete;
  ShowListener& operator=(const ShowListener&) = delete;

  /// Starts the thread; none when the show-window event could not be made.
  void start(std::shared_ptr<const LoopProxy> proxy);
  /// On the loop's thread, after it handled a ShowWindow: every start whose signal was passed
  /// on by then is answered.
  void shown();
  /// As the program ends: no signal is taken or answered any more. Returns once the thread
  /// has ended.
  void stop();

 private:
  void watch(std::shared_ptr<const LoopProxy> proxy);

  HANDLE show_event_;
  HANDLE taken_event_;
  HANDLE stop_event_;
  std::atomic<int> passed_on_{0};
  std::thread thread_;
};

/// The process's arguments as the system split its command line, the program path first.
std::vector<std::u16string> command_line_arguments();

/// Ends the process at once with the code: no destructor of static objects runs while worker
/// threads may still use them.
[[noreturn]] void end_process(int code);

}  // namespace zelk
