#pragma once
// Looking at processes a test's children started, by id. Windows builds only.

#include <windows.h>

namespace zelk {

/// True while a process with this id runs.
bool process_running(DWORD pid);

/// Ends the process with this id, if it still runs.
void end_process(DWORD pid);

}  // namespace zelk
