#include "interrupt.h"

#include <windows.h>

#include <atomic>

namespace zelk {

namespace {

std::atomic<bool> watching{false};
std::atomic<bool> noted{false};

// Runs on a thread of its own that Windows starts for each event.
BOOL WINAPI note_event(DWORD event) {
  const bool first = !noted.exchange(true);
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      // Not handled the second time: Windows' own handler ends the program at once.
      return first ? TRUE : FALSE;
    default:
      // The console closes, or the user logs off: Windows ends the program when this returns,
      // or about 5 seconds after the event at the latest. The wait gives the main thread that
      // time to clean up; its own end ends the program before the wait does.
      Sleep(4500);
      return TRUE;
  }
}

}  // namespace

void watch_interrupts() {
  if (!watching.exchange(true)) SetConsoleCtrlHandler(note_event, TRUE);
}

bool interrupt_requested() { return noted.load(); }

int interrupt_exit_code() { return noted.load() ? static_cast<int>(STATUS_CONTROL_C_EXIT) : 0; }

}  // namespace zelk
