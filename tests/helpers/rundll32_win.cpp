// Stands in for the system's rundll32 when it lies in the folder of the program that starts
// it: writes each argument between brackets, one a line, and what its standard streams are,
// into the file named by ZELK_TEST_BROWSER_RECORD.
#include <windows.h>

#include <string>

#include "std_handle_kind_win.h"
#include "wide_win.h"

namespace {

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::string text;
  for (int index = 1; index < argc; ++index) {
    text.append("[").append(zelk::from_wide_lossy(argv[index])).append("]\n");
  }
  text.append("in=").append(zelk::std_handle_kind(STD_INPUT_HANDLE));
  text.append(" out=").append(zelk::std_handle_kind(STD_OUTPUT_HANDLE));
  text.append(" err=").append(zelk::std_handle_kind(STD_ERROR_HANDLE)).append("\n");
  wchar_t record[MAX_PATH];
  if (GetEnvironmentVariableW(L"ZELK_TEST_BROWSER_RECORD", record, MAX_PATH) == 0) return 2;
  // Written whole under a temporary name first, so a reader never sees half of it.
  const std::wstring partial = std::wstring(record) + L".partial";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  MoveFileExW(partial.c_str(), record, MOVEFILE_REPLACE_EXISTING);
  return 0;
}
