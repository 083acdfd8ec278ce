#pragma once
/// The window program's entry: one instance per logon, a second start handing over to the
/// running one, the --window switch, and the loop with its shell. Windows builds only.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "loop_dispatcher.h"
#include "loop_seams.h"
#include "web_view_win.h"

namespace zelk {

inline constexpr wchar_t instance_mutex_name[] = L"ValdrovenAIZelkTray";
inline constexpr wchar_t show_window_event_name[] = L"ValdrovenAIZelkShowWindow";

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
};

/// The process's whole run. Returns 0 on a second start; otherwise the loop ends the process
/// with the handler's exit code after taking the tray icon away.
int window_main(const WindowProgram& program);

/// The program's own handler: the window loop with the real services, over this shell.
LoopDispatcher::Handler window_loop_handler(bool window_flag, Shell& shell, std::shared_ptr<const LoopProxy> proxy);

/// Opens or makes the show-window event (auto-reset, not signalled); null when it cannot.
HANDLE signal_running_instance();

/// Starts the thread that turns each signal of the show-window event into ShowWindow; none
/// when the event could not be made.
void start_show_listener(std::shared_ptr<const LoopProxy> proxy, HANDLE event);

/// The thread's body: every signal sends ShowWindow (the send's result is ignored); a failed
/// wait ends it.
void watch_show_event(std::shared_ptr<const LoopProxy> proxy, HANDLE event);

/// The process's arguments as the system split its command line, the program path first.
std::vector<std::u16string> command_line_arguments();

/// Ends the process at once with the code: no destructor of static objects runs while worker
/// threads may still use them.
[[noreturn]] void end_process(int code);

}  // namespace zelk
