#pragma once
// The window program started as a real process for a test (zelk_window_probe: zelk-window's
// entry, shell and loop with a stand-in web view), and what can be seen of it from outside:
// its windows, its tray icon, its exit code and the report it writes.
#include <windows.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "scoped_env.h"
#include "test_folder.h"

namespace zelk {

/// Waits until the condition holds; false when it still does not after the limit.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(30));

/// A started program, ended (if it still runs) when the test is over.
class Started {
 public:
  Started(const std::filesystem::path& program, const std::wstring& arguments);
  ~Started();
  Started(const Started&) = delete;
  Started& operator=(const Started&) = delete;

  bool started() const { return process_ != nullptr; }
  DWORD pid() const { return pid_; }
  /// The exit code once it ended within the limit; none while it runs.
  std::optional<DWORD> exit_code(std::chrono::milliseconds limit) const;

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

/// The top-level windows of this class that the process owns; of any class when none is given.
std::vector<HWND> windows_of(DWORD pid, const wchar_t* class_name = nullptr);
/// The loop's hidden window of the process, or null.
HWND loop_window_of(DWORD pid);
/// The program's window of the process, or null.
HWND app_window_of(DWORD pid);
/// The process runs its loop with its tray icon shown.
bool tray_ready(DWORD pid);
bool tray_icon_present_of(HWND loop);

/// The report holds this whole line.
bool has_line(const std::filesystem::path& report, const std::string& line);
/// How many lines of the file begin with the text.
std::size_t count_lines(const std::filesystem::path& report, const std::string& start);

std::filesystem::path probe_program();

/// Everything a probe needs of its environment: its own data folder, and its report.
struct ProbeSetting {
  TestFolder folder;
  ScopedEnv home;
  std::filesystem::path report;
  ScopedEnv where;
  ProbeSetting();
};

/// Posts a message of the tray icon to the loop's hidden window as the notification area does
/// for an icon of version 4: the event and the icon in lparam, the pointer's place in wparam.
void post_icon_message(HWND loop, UINT event);

/// Picks "Quit (apps keep running)", the menu's last item, from the probe's tray menu.
void quit_through_the_menu(DWORD pid);

}  // namespace zelk
