#pragma once
/// The program's one window on Win32: made on demand, destroyed (not hidden) when closed,
/// sized in logical units for the monitor's DPI, the mark as its icons, and a web view with the
/// page filling it. Scripts asked for while the web view is still being made wait for it.
/// Windows builds only.
#include <windows.h>

#include <deque>
#include <expected>
#include <functional>
#include <memory>
#include <string>

#include "icon_win.h"
#include "web_view_win.h"

namespace zelk {

/// The window's client size, in logical units (pixels at 96 DPI), and the least it may have.
inline constexpr SIZE window_client_size{1120, 760};
inline constexpr SIZE window_minimum_client_size{560, 480};
/// The mark's sizes for the window's icons: the small icon (title bar) and the big one
/// (taskbar, task switcher).
inline constexpr int window_small_icon_size = 64;
inline constexpr int window_big_icon_size = 128;

class AppWindow {
 public:
  struct Settings {
    std::string title;
    std::string page;
    WebViewFactory make_web_view;
    std::function<void(std::string text)> on_page_message;
    /// The user asked to close the window; the loop decides (and calls close()).
    std::function<void()> on_close_requested;
    /// The web view failed after open() returned; the window is hidden at once and the loop
    /// drops it (close()). Called inside the web view's own callback: it may only pass the
    /// text on.
    std::function<void(std::string why)> on_web_view_failed;
    /// The session ends (logging off, shutting down, an installer closing programs): the
    /// program ends.
    std::function<void()> on_session_end;
    /// The system asks whether the session may end: the program agrees, and lets go of its
    /// single-instance names at once.
    std::function<void()> on_session_ending;
    /// The session end was called off.
    std::function<void()> on_session_kept;
  };

  explicit AppWindow(Settings settings);
  ~AppWindow();
  AppWindow(const AppWindow&) = delete;
  AppWindow& operator=(const AppWindow&) = delete;

  /// Makes the window and starts its web view; the error says why not (the window is then
  /// gone again). Does nothing when the window exists.
  std::expected<void, std::string> open();
  bool is_open() const { return record_ != nullptr; }
  /// Restores the window when minimised and brings it to the front.
  void raise();
  /// Drops the web view and destroys the window.
  void close();
  /// Runs the script in the page, at once when the web view is ready, else when it is.
  void run_script(std::string script);

  /// The window, or null.
  HWND handle() const;

 private:
  struct Record;
  static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT on_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void web_view_ready(const std::weak_ptr<Record>& record);
  void web_view_failed(const std::weak_ptr<Record>& record, const std::string& reason);

  Settings settings_;
  std::shared_ptr<Record> record_;
};

}  // namespace zelk
