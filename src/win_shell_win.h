#pragma once
/// The shell the window program's loop works through, on Win32: the tray icon with its menu,
/// the window with its web view, and the programs it starts. Windows builds only.
#include <windows.h>

#include <string>

#include "app_window_win.h"
#include "loop_seams.h"
#include "message_loop_win.h"
#include "program_starts_win.h"
#include "tray_win.h"
#include "web_view_win.h"

namespace zelk {

class WinShell final : public Shell {
 public:
  struct Settings {
    std::string page;               ///< the page's HTML text
    WebViewFactory make_web_view;
    /// What start_console starts as "cmd"; the system's own unless a test says otherwise.
    std::wstring command_interpreter = system_command_interpreter();
  };

  WinShell(MessageLoop& loop, Settings settings);

  std::expected<void, std::string> add_tray_icon(std::string_view tooltip, const TrayMenu& menu) override;
  void set_tray_menu(const TrayMenu& menu) override;
  void set_tooltip(std::string_view text) override;
  void show_notice(std::string_view text) override;

  bool window_open() const override;
  std::expected<void, std::string> open_window() override;
  void raise_window() override;
  void close_window() override;
  void run_script(std::string script) override;

  std::expected<std::filesystem::path, std::string> program_folder() const override;
  std::expected<void, std::string> start_console(std::string_view arguments, std::optional<std::string> path) override;
  std::expected<void, std::string> start_detached(const std::filesystem::path& program) override;

  /// Takes the tray icon away: the program is ending.
  void remove_tray_icon() { tray_.remove(); }
  /// The window, or null.
  HWND window_handle() const { return window_.handle(); }

 private:
  MessageLoop& loop_;
  Tray tray_;
  AppWindow window_;
  std::wstring command_interpreter_;
};

}  // namespace zelk
