// Stands in for the program's installer: writes its arguments, one a line, to
// "<its own path>.args" (through a temporary file and a rename, so a reader never sees half of
// it) and ends. With ZELK_FAKE_INSTALLER_WAIT_MS set it first waits that many milliseconds, as a
// real installer runs a while.
#include <windows.h>

#include <cwchar>
#include <string>

#include "wide_win.h"

int wmain(int argc, wchar_t** argv) {
  wchar_t wait[32];
  const DWORD wait_length = GetEnvironmentVariableW(L"ZELK_FAKE_INSTALLER_WAIT_MS", wait, 32);
  if (wait_length > 0 && wait_length < 32) Sleep(static_cast<DWORD>(std::wcstoul(wait, nullptr, 10)));
  wchar_t own[32768];
  DWORD length = GetModuleFileNameW(nullptr, own, 32768);
  if (length == 0 || length >= 32768) return 1;
  const std::wstring marker = std::wstring(own, length) + L".args";
  const std::wstring temp = marker + L".tmp";
  std::string text;
  for (int i = 1; i < argc; ++i) {
    text += zelk::from_wide_lossy(argv[i]);
    text += "\n";
  }
  HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok) return 1;
  return MoveFileExW(temp.c_str(), marker.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
