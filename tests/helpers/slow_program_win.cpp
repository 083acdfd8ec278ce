// A stand-in for a program that takes long to answer (a container runtime that hangs): it
// appends "running <process id>" to the file ZELK_SLOW_PROGRAM_REPORT names, then sleeps for a
// minute and ends with exit code 1.
#include <windows.h>

#include <string>

int wmain() {
  wchar_t report[MAX_PATH * 4] = {};
  if (GetEnvironmentVariableW(L"ZELK_SLOW_PROGRAM_REPORT", report, MAX_PATH * 4) != 0) {
    const HANDLE file = CreateFileW(report, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      const std::string line = "running " + std::to_string(GetCurrentProcessId()) + "\n";
      DWORD written = 0;
      WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
      CloseHandle(file);
    }
  }
  Sleep(60000);
  return 1;
}
