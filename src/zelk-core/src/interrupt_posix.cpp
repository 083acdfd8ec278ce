#include "interrupt.h"

#include <csignal>
#include <initializer_list>

namespace zelk {

namespace {

volatile std::sig_atomic_t noted_signal = 0;

void note_signal(int number) { noted_signal = number; }

}  // namespace

void watch_interrupts() {
  struct sigaction action {};
  action.sa_handler = note_signal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait of the program's own wakes up and can look at the request.
  // SA_RESETHAND gives the signal its default back, so a second one ends the program at once.
  action.sa_flags = SA_RESETHAND;
  for (int number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    // A watch already noting this signal keeps it; one already reset by a request stays reset.
    if (sigaction(number, nullptr, &current) == 0 && current.sa_handler == note_signal) continue;
    if (noted_signal == 0) sigaction(number, &action, nullptr);
  }
}

bool interrupt_requested() { return noted_signal != 0; }

int interrupt_exit_code() { return noted_signal != 0 ? 128 + noted_signal : 0; }

}  // namespace zelk
