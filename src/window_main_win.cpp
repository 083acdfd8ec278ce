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

void watch_show_event(std::shared_ptr<const LoopProxy> proxy, HANDLE event) {
  while (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) proxy->send(ShowWindow{});
}

void start_show_listener(std::shared_ptr<const LoopProxy> proxy, HANDLE event) {
  if (event == nullptr) return;
  // It lives as long as the process and is never joined: a detached thread.
  std::thread(watch_show_event, std::move(proxy), event).detach();
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
  // start's handle. Both handles stay open until the process ends.
  const HANDLE show_event = signal_running_instance();
  const HANDLE mutex = CreateMutexW(nullptr, FALSE, instance_mutex_name);
  if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
    if (show_event != nullptr) {
      // The running copy may then bring its window to the front, which the system allows
      // only to the process the user just started.
      AllowSetForegroundWindow(ASFW_ANY);
      SetEvent(show_event);
    }
    return 0;
  }
  if (program.after_instance_claimed) program.after_instance_claimed();

  const bool window_flag = has_window_switch(command_line_arguments());
  become_dpi_aware();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // the web view's callbacks need it

  MessageLoop loop;
  WinShell::Settings settings{.page = program.page, .make_web_view = program.make_web_view};
  if (!program.command_interpreter.empty()) settings.command_interpreter = program.command_interpreter;
  WinShell shell(loop, std::move(settings));
  LoopDispatcher::Handler handler = program.make_handler(window_flag, shell, loop.proxy());
  start_show_listener(loop.proxy(), show_event);
  return loop.run(std::move(handler), [&shell](int code) {
    shell.remove_tray_icon();
    end_process(code);
  });
}

}  // namespace zelk
