#include "win_shell_win.h"

#include "wide_win.h"
#include "window_texts.h"

namespace zelk {

WinShell::WinShell(MessageLoop& loop, Settings settings)
    : loop_(loop),
      tray_(loop, loop.proxy()),
      window_(AppWindow::Settings{
          .title = program_title(),
          .page = std::move(settings.page),
          .make_web_view = std::move(settings.make_web_view),
          // The page's text is copied into an event and handled on a later turn of the loop,
          // never inside the web view's own callback.
          .on_page_message = [proxy = loop.proxy()](std::string text) { proxy->send(PageMessage{std::move(text)}); },
          .on_close_requested = [&loop] { loop.post(WindowCloseRequested{}); },
          .on_web_view_failed = [proxy = loop.proxy()](std::string why) { proxy->send(WebViewFailed{std::move(why)}); },
          .on_session_end = [&loop] { loop.quit(); },
          .on_session_ending = [&loop] { loop.leave(); },
          .on_session_kept = [&loop] { loop.stay(); },
      }),
      command_interpreter_(std::move(settings.command_interpreter)) {
  loop_.set_message_hook(
      [this](UINT message, WPARAM wparam, LPARAM lparam) { return tray_.on_message(message, wparam, lparam); });
}

std::expected<void, std::string> WinShell::add_tray_icon(std::string_view tooltip, const TrayMenu& menu) {
  return tray_.add(tooltip, menu);
}

void WinShell::set_tray_menu(const TrayMenu& menu) { tray_.set_menu(menu); }

void WinShell::set_tooltip(std::string_view text) { tray_.set_tooltip(text); }

void WinShell::show_notice(std::string_view text) { tray_.show_balloon(text); }

bool WinShell::window_open() const { return window_.is_open(); }

std::expected<void, std::string> WinShell::open_window() { return window_.open(); }

void WinShell::raise_window() { window_.raise(); }

void WinShell::close_window() { window_.close(); }

void WinShell::run_script(std::string script) { window_.run_script(std::move(script)); }

std::expected<std::filesystem::path, std::string> WinShell::program_folder() const {
  return folder_of_running_program();
}

std::expected<void, std::string> WinShell::start_console(std::string_view arguments, std::optional<std::string> path) {
  return start_in_new_console(command_interpreter_, L"cmd " + to_wide(arguments), path);
}

std::expected<void, std::string> WinShell::start_detached(const std::filesystem::path& program) {
  return start_with_null_streams(program);
}

}  // namespace zelk
