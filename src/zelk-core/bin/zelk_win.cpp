#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "wide_win.h"
#include "zelk/console.h"

// The C runtime has already split the UTF-16 command line by its own rules.
int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
  // Every line ends in "\n" exactly as written, as on the other platforms; a console shows
  // it as a line end all the same.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::optional<std::string> arg = zelk::from_wide(argv[i]);
    if (!arg) {
      std::fputs("zelk: the command line holds text that is not valid Unicode. Type it again.\n", stderr);
      return 1;
    }
    args.push_back(std::move(*arg));
  }
  return zelk::console_main(args);
}
