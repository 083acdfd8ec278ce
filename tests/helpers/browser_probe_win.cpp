// Opens the address given as its argument in the browser, the way both programs do, and
// says "opened" or "failed: <reason>" on standard output.
#include <windows.h>

#include <string>

#include "platform.h"
#include "wide_win.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  auto opened = zelk::open_in_browser(zelk::from_wide_lossy(argv[1]));
  const std::string text = opened ? std::string("opened\n") : "failed: " + opened.error() + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
  return opened ? 0 : 1;
}
