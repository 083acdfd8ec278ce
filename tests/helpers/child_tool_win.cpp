// A child process for the runner's tests, doing what its arguments say, in order:
//   out TEXT | err TEXT      write TEXT to standard output | error
//   hex HEXBYTES             write those bytes to standard output
//   many N                   write N bytes "a" to standard output and N "b" to standard error
//   flood                    write "a" to standard output for ever, whatever becomes of it
//   report FILE              write what follows (env, envcount, streams) into FILE
//   env NAME                 "NAME=<value>" or "NAME unset", one line
//   envcount NAME            how many variables carry that name in any case, one line
//   streams                  "in=<kind> out=<kind> err=<kind>", kinds null|console|pipe|file|none
//   pid FILE                 write this process's id into FILE
//   sleep MS                 sleep
//   spawn MS FILE            start "child_tool sleep MS" holding this process's streams, not
//                            waited for, and write its process id into FILE
//   handle VALUE             "inherited" when VALUE is a handle of this process, else "absent"
//   exit N                   end with exit code N
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "std_handle_kind_win.h"
#include "wide_win.h"

namespace {

HANDLE report = GetStdHandle(STD_OUTPUT_HANDLE);

void write_to(HANDLE handle, const std::string& text) {
  DWORD written = 0;
  WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void write_file(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  write_to(file, text);
  CloseHandle(file);
}

std::wstring name_of(const wchar_t* entry) {
  std::wstring text(entry);
  return text.substr(0, text.find(L'=', 1));
}

void spawn_sleeper(const std::wstring& milliseconds, const std::wstring& pid_file) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command_line = L"child_tool sleep " + milliseconds;
  STARTUPINFOW info{};
  info.cb = sizeof info;
  info.dwFlags = STARTF_USESTDHANDLES;
  info.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  info.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  info.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(self, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &info,
                      &process)) {
    ExitProcess(90);
  }
  write_file(pid_file, std::to_string(process.dwProcessId));
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  auto text = [&](std::size_t index) { return index < args.size() ? zelk::from_wide_lossy(args[index]) : ""; };
  for (std::size_t at = 0; at < args.size(); ++at) {
    const std::wstring& word = args[at];
    if (word == L"out") {
      write_to(GetStdHandle(STD_OUTPUT_HANDLE), text(++at));
    } else if (word == L"err") {
      write_to(GetStdHandle(STD_ERROR_HANDLE), text(++at));
    } else if (word == L"hex") {
      const std::string hex = text(++at);
      std::string bytes;
      for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
      }
      write_to(GetStdHandle(STD_OUTPUT_HANDLE), bytes);
    } else if (word == L"many") {
      const std::size_t count = std::stoul(text(++at));
      const std::string a(4096, 'a');
      const std::string b(4096, 'b');
      for (std::size_t done = 0; done < count; done += a.size()) {
        const std::size_t piece = count - done < a.size() ? count - done : a.size();
        write_to(GetStdHandle(STD_OUTPUT_HANDLE), a.substr(0, piece));
        write_to(GetStdHandle(STD_ERROR_HANDLE), b.substr(0, piece));
      }
    } else if (word == L"flood") {
      const std::string a(4096, 'a');
      for (;;) write_to(GetStdHandle(STD_OUTPUT_HANDLE), a);
    } else if (word == L"report") {
      report = CreateFileW(args[++at].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    } else if (word == L"env") {
      const std::wstring& name = args[++at];
      const DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
      std::string line = zelk::from_wide_lossy(name);
      if (size == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        line += " unset\n";
      } else {
        std::wstring value(size, L'\0');
        value.resize(GetEnvironmentVariableW(name.c_str(), value.data(), size));
        line.append("=").append(zelk::from_wide_lossy(value)).append("\n");
      }
      write_to(report, line);
    } else if (word == L"envcount") {
      const std::wstring& name = args[++at];
      int count = 0;
      wchar_t* strings = GetEnvironmentStringsW();
      for (const wchar_t* entry = strings; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        const std::wstring entry_name = name_of(entry);
        if (CompareStringOrdinal(entry_name.c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL) ++count;
      }
      FreeEnvironmentStringsW(strings);
      write_to(report, "count " + std::to_string(count) + "\n");
    } else if (word == L"streams") {
      std::string line = "in=";
      line.append(zelk::std_handle_kind(STD_INPUT_HANDLE));
      line.append(" out=").append(zelk::std_handle_kind(STD_OUTPUT_HANDLE));
      line.append(" err=").append(zelk::std_handle_kind(STD_ERROR_HANDLE)).append("\n");
      write_to(report, line);
    } else if (word == L"pid") {
      write_file(args[++at], std::to_string(GetCurrentProcessId()));
    } else if (word == L"sleep") {
      Sleep(static_cast<DWORD>(std::stoul(text(++at))));
    } else if (word == L"spawn") {
      const std::wstring milliseconds = args[++at];
      spawn_sleeper(milliseconds, args[++at]);
    } else if (word == L"handle") {
      const auto value = static_cast<std::uintptr_t>(std::stoull(text(++at)));
      DWORD flags = 0;
      const bool held = GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
      write_to(report, held ? "inherited\n" : "absent\n");
    } else if (word == L"exit") {
      return std::stoi(text(++at));
    } else {
      std::string line = "child_tool: unknown word ";
      line.append(zelk::from_wide_lossy(word)).append("\n");
      write_to(GetStdHandle(STD_ERROR_HANDLE), line);
      return 99;
    }
  }
  if (report != GetStdHandle(STD_OUTPUT_HANDLE)) CloseHandle(report);
  return 0;
}
