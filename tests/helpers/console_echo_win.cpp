// A stand-in for programs the window program starts (cmd, Podman Desktop): it writes what it
// was started with into the file that ZELK_CONSOLE_ECHO_REPORT names, in UTF-8, one line each:
//   command line: <the whole command line, as the system passed it>
//   PATH=<value>                 (or "PATH unset")
//   streams: in=<kind> out=<kind> err=<kind>    kinds null|console|pipe|file|none
//   console window: yes|no
// The file is written under another name and renamed, so a reader never sees half of it.
#include <windows.h>

#include <string>

#include "std_handle_kind_win.h"
#include "wide_win.h"

namespace {

std::wstring variable(const wchar_t* name, bool& set) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  set = !(size == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), size));
  return value;
}

}  // namespace

int wmain() {
  bool report_set = false;
  const std::wstring report = variable(L"ZELK_CONSOLE_ECHO_REPORT", report_set);
  if (!report_set || report.empty()) return 2;
  bool path_set = false;
  const std::wstring path = variable(L"PATH", path_set);
  std::string text = "command line: " + zelk::from_wide_lossy(GetCommandLineW()) + "\n";
  text += path_set ? "PATH=" + zelk::from_wide_lossy(path) + "\n" : "PATH unset\n";
  text += "streams: in=" + zelk::std_handle_kind(STD_INPUT_HANDLE) +
          " out=" + zelk::std_handle_kind(STD_OUTPUT_HANDLE) +
          " err=" + zelk::std_handle_kind(STD_ERROR_HANDLE) + "\n";
  text += std::string("console window: ") + (GetConsoleWindow() != nullptr ? "yes" : "no") + "\n";
  const std::wstring partial = report + L".partial";
  const HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return MoveFileExW(partial.c_str(), report.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
