// Writes each argument it was given, as the C runtime split its command line, on a line of
// its own between brackets, in UTF-8 on standard output.
#include <windows.h>

#include <string>

#include "wide_win.h"

int wmain(int argc, wchar_t** argv) {
  std::string text;
  for (int index = 1; index < argc; ++index) {
    text.append("[").append(zelk::from_wide_lossy(argv[index])).append("]\n");
  }
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
  return 0;
}
