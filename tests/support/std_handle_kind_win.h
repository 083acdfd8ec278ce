#pragma once
// What one of this process's standard handles is connected to, as the Windows tests and the
// helper programs they start report it: "none", "pipe", "file", "console", "null" (the null
// device is a character device without a console mode) or "unknown".

#include <windows.h>

#include <string>

namespace zelk {

inline std::string std_handle_kind(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return "none";
  switch (GetFileType(handle)) {
    case FILE_TYPE_PIPE: return "pipe";
    case FILE_TYPE_DISK: return "file";
    case FILE_TYPE_CHAR: {
      DWORD mode = 0;
      return GetConsoleMode(handle, &mode) ? "console" : "null";
    }
    default: return "unknown";
  }
}

}  // namespace zelk
