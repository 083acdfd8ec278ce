#include "window_main_win.h"

#include <objbase.h>
#include <shellapi.h>

#include <thread>

#include "message_loop_win.h"
#include "win_shell_win.h"
#include "window_loop.h"
#include "window_switch.h"

namespace zelk {

namespace {

// Sizes in logical units are then scaled for each monitor by the program itself. The newest
// way the system has is taken; older systems (and Wine) get the best they know.
void become_dpi_aware() {
  using SetContextFunction = BOOL(WINAPI*)(HANDLE);
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (user32 != nullptr) {
    if (auto set_context = reinterpret_cast<SetContextFunction>(
            reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")))) {
      // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, then DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE
      if (set_context(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4))) ||
          set_context(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-3)))) {
        return;
      }
    }
  }
  SetProcessDPIAware();
}

}  // namespace

LoopDispatcher::Handler window_loop_handler(bool window_flag, Shell& shell, std::shared_ptr<const LoopProxy> proxy) {
  std::shared_ptr<WindowLoop> loop = make_window_loop(window_flag, shell, std::move(proxy));
  return [loop](LoopEvent event) { return handle_event(*loop, std::move(event)); };
}

HANDLE signal_running_instance() { return CreateEventW(nullptr, FALSE, FALSE, show_window_event_name); }

HANDLE claim_instance(HANDLE show_event, HANDLE taken_event, DWORD wait_ms) {
  // Owned by the instance for as long as it is the instance: a second start can wait on it
  // and learns at once when the instance lets go of it, or ends in any way.
  const HANDLE mutex = CreateMutexW(nullptr, TRUE, instance_mutex_name);
  const bool first = mutex != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
  if (first) return mutex;
  if (mutex == nullptr || show_event == nullptr) {
    if (show_event != nullptr) SetEvent(show_event);
    if (mutex != nullptr) CloseHandle(mutex);
    return nullptr;
  }
  // The running copy may then bring its window to the front, which the system allows only to
  // the process the user just started.
  AllowSetForegroundWindow(ASFW_ANY);
  // An answer to earlier starts; this start's own signal is answered after it is set.
  if (taken_event != nullptr) ResetEvent(taken_event);
  SetEvent(show_event);
  const HANDLE waits[] = {mutex, taken_event};
  const DWORD count = taken_event != nullptr ? 2 : 1;
  const DWORD woke = WaitForMultipleObjects(count, waits, FALSE, wait_ms);
  if (woke == WAIT_OBJECT_0 || woke == WAIT_ABANDONED_0) {
    // The instance is ending and took no signal: this start is the instance now, and starts
    // as a first start does, so its own signal is taken back.
    WaitForSingleObject(show_event, 0);
    return mutex;
  }
  CloseHandle(mutex);
  return nullptr;
}

ShowListener::ShowListener(HANDLE show_event, HANDLE taken_event)
    : show_event_(show_event), taken_event_(taken_event), stop_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

ShowListener::~ShowListener() {
  stop();
  if (stop_event_ != nullptr) CloseHandle(stop_event_);
}

void ShowListener::start(std::shared_ptr<const LoopProxy> proxy) {
  if (show_event_ == nullptr || stop_event_ == nullptr || thread_.joinable()) return;
  ResetEvent(stop_event_);
  thread_ = std::thread([this, proxy = std::move(proxy)] { watch(proxy); });
}

void ShowListener::watch(std::shared_ptr<const LoopProxy> proxy) {
  // The stop comes first: a signal that arrives as the program ends stays in the event, for
  // the start that gave it to find its way to the mutex.
  const HANDLE waits[] = {stop_event_, show_event_};
  while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
    ++passed_on_;
    proxy->send(ShowWindow{});
  }
}

void ShowListener::shown() {
  // Only now, with the window shown (or its failure shown), is the signal surely taken: a
  // ShowWindow still queued when the loop ends is never handled. Starts that signal at once
  // wake the listener only once; the answer stays set, so it reaches every one of them.
  if (passed_on_.exchange(0) > 0 && taken_event_ != nullptr) SetEvent(taken_event_);
}

void ShowListener::stop() {
  if (stop_event_ != nullptr) SetEvent(stop_event_);
  if (thread_.joinable()) thread_.join();
  passed_on_ = 0;  // a ShowWindow handled from now on answers no start: it may be the next instance's
}

std::vector<std::u16string> command_line_arguments() {
  std::vector<std::u16string> arguments;
  int count = 0;
  wchar_t** split = CommandLineToArgvW(GetCommandLineW(), &count);
  if (split == nullptr) return arguments;
  for (int index = 0; index < count; ++index) {
    const std::wstring_view argument(split[index]);
    arguments.emplace_back(argument.begin(), argument.end());
  }
  LocalFree(split);
  return arguments;
}

void end_process(int code) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  ExitProcess(static_cast<UINT>(code));
}

int window_main(const WindowProgram& program) {
  // Every start makes (or opens) the show-window event before it looks at the mutex, and
  // keeps it open: whenever the mutex exists, so does the event, held by the instance. A
  // second start that comes while the first is still starting then signals the event the
  // first will listen on, and its signal waits there; it is never lost with the second
  // start's handle. The events' handles stay open until the process ends.
  const HANDLE show_event = signal_running_instance();
  const HANDLE taken_event = CreateEventW(nullptr, TRUE, FALSE, show_window_taken_event_name);
  HANDLE mutex = claim_instance(show_event, taken_event, program.hand_over_wait_ms);
  if (mutex == nullptr) return 0;
  if (program.after_instance_claimed) program.after_instance_claimed();

  const bool window_flag = has_window_switch(command_line_arguments());
  become_dpi_aware();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // the web view's callbacks need it

  MessageLoop loop;
  WinShell::Settings settings{.page = program.page, .make_web_view = program.make_web_view};
  if (!program.command_interpreter.empty()) settings.command_interpreter = program.command_interpreter;
  WinShell shell(loop, std::move(settings));
  ShowListener listener(show_event, taken_event);
  LoopDispatcher::Handler handler = [&listener, inner = program.make_handler(window_flag, shell, loop.proxy())](
                                        LoopEvent event) {
    const auto* user = std::get_if<UserEvent>(&event);
    const bool show = user != nullptr && std::holds_alternative<ShowWindow>(*user);
    ControlFlow flow = inner(std::move(event));
    if (show) listener.shown();
    return flow;
  };
  // The names go first, as soon as the program begins to end: a start from then on is the
  // next instance, not a hand-over to one that is going. Taking the icon away can take seconds.
  loop.set_instance_actions(
      [&] {
        listener.stop();
        if (mutex == nullptr) return;
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        mutex = nullptr;
      },
      [&] {
        if (mutex != nullptr) return true;
        const HANDLE again = CreateMutexW(nullptr, TRUE, instance_mutex_name);
        if (again != nullptr && GetLastError() != ERROR_ALREADY_EXISTS) {
          mutex = again;
          listener.start(loop.proxy());
          return true;
        }
        if (again != nullptr) CloseHandle(again);
        return false;
      });
  listener.start(loop.proxy());
  return loop.run(std::move(handler), [&](int code) {
    shell.remove_tray_icon();
    end_process(code);
  });
}

}  // namespace zelk
