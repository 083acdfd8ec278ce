#include "probe_runs_win.h"

#include <gtest/gtest.h>

#include <string_view>
#include <thread>

#include "child_programs.h"
#include "file_text.h"
#include "platform.h"
#include "shell_harness_win.h"
#include "tray_win.h"

namespace zelk {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (condition()) return true;
    std::this_thread::sleep_for(25ms);
  }
  return condition();
}

Started::Started(const fs::path& program, const std::wstring& arguments) {
  std::wstring line = L"\"" + program.wstring() + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  STARTUPINFOW info{};
  info.cb = sizeof info;
  PROCESS_INFORMATION process{};
  if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &info, &process)) {
    CloseHandle(process.hThread);
    process_ = process.hProcess;
    pid_ = process.dwProcessId;
  }
}

Started::~Started() {
  if (process_ == nullptr) return;
  if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 10000);
  }
  CloseHandle(process_);
}

std::optional<DWORD> Started::exit_code(std::chrono::milliseconds limit) const {
  if (WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return code;
}

std::vector<HWND> windows_of(DWORD pid, const wchar_t* class_name) {
  struct Search {
    DWORD pid;
    const wchar_t* class_name;
    std::vector<HWND> found;
  } search{pid, class_name, {}};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* search = reinterpret_cast<Search*>(data);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t name[128] = {};
        GetClassNameW(window, name, 128);
        if (owner == search->pid && (search->class_name == nullptr || std::wstring_view(name) == search->class_name)) {
          search->found.push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND loop_window_of(DWORD pid) {
  const std::vector<HWND> found = windows_of(pid, L"ValdrovenAIZelkLoop");
  return found.empty() ? nullptr : found.front();
}

HWND app_window_of(DWORD pid) {
  const std::vector<HWND> found = windows_of(pid, L"ValdrovenAIZelkWindow");
  return found.empty() ? nullptr : found.front();
}

bool tray_ready(DWORD pid) {
  const HWND loop = loop_window_of(pid);
  return loop != nullptr && tray_icon_present(loop, Tray::icon_id);
}

bool tray_icon_present_of(HWND loop) { return tray_icon_present(loop, Tray::icon_id); }

bool has_line(const fs::path& report, const std::string& line) {
  const std::string text = "\n" + read_text(report);
  return text.find("\n" + line + "\n") != std::string::npos;
}

std::size_t count_lines(const fs::path& report, const std::string& start) {
  const std::string text = "\n" + read_text(report);
  std::size_t count = 0;
  for (std::size_t at = text.find("\n" + start); at != std::string::npos; at = text.find("\n" + start, at + 1)) ++count;
  return count;
}

fs::path probe_program() { return path_from_utf8(helper_program("zelk_window_probe")); }

ProbeSetting::ProbeSetting()
    : home("ZELK_HOME", path_to_utf8(folder.path() / "home")),
      report(folder.path() / "report.txt"),
      where("ZELK_PROBE_REPORT", path_to_utf8(report)) {}

void post_icon_message(HWND loop, UINT event) {
  POINT at{};
  GetCursorPos(&at);
  PostMessageW(loop, Tray::callback_message, MAKEWPARAM(at.x, at.y), MAKELPARAM(event, Tray::icon_id));
}

void quit_through_the_menu(DWORD pid) {
  const HWND loop = loop_window_of(pid);
  // A right click, as the notification area passes it on.
  post_icon_message(loop, WM_RBUTTONUP);
  post_icon_message(loop, WM_CONTEXTMENU);
  HWND menu = nullptr;
  eventually([&] {
    const std::vector<HWND> menus = windows_of(pid, L"#32768");
    for (HWND candidate : menus) {
      if (IsWindowVisible(candidate)) menu = candidate;
    }
    return menu != nullptr;
  });
  ASSERT_NE(menu, nullptr) << "the tray menu did not open";
  PostMessageW(menu, WM_KEYDOWN, VK_UP, 0);
  std::this_thread::sleep_for(100ms);
  PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
}

}  // namespace zelk
