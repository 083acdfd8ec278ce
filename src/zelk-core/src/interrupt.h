#pragma once
/// The user's request to stop the command that runs: Ctrl-C, Ctrl-Break or the console closing
/// on Windows; SIGINT, SIGTERM or SIGHUP elsewhere. Until the watch starts, a request ends the
/// program at once, as it always would. A command that must not leave half of what it made
/// (a backup, a restore) starts the watch before it makes anything: from then on the first
/// request is only noted, so the command can let the running copy end and clean up; a second
/// request ends the program at once.

namespace zelk {

/// Starts noting requests. Calling it again changes nothing.
void watch_interrupts();

/// Whether a request has arrived since the watch started.
bool interrupt_requested();

/// The exit code of a program ended by the request that arrived: 128 and the signal's number
/// on POSIX (130 for Ctrl-C), STATUS_CONTROL_C_EXIT on Windows.
int interrupt_exit_code();

}  // namespace zelk
