#pragma once
// A stand-in for the web view, for the window's tests (WebView2 does not run under Wine): a
// child window that fills its parent, becomes ready on a later turn of the message loop as
// the real one does, records the scripts it is asked to run, and takes page messages from
// any process as WM_COPYDATA. With a report file set, it also writes each happening there as
// one line, for tests that watch another process.
#include <windows.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "web_view_win.h"

namespace zelk {

/// What the stand-ins did. Touched on the window's thread only.
struct FakeWebViewLog {
  int made = 0;
  int closed = 0;
  std::vector<std::string> scripts;
  std::vector<std::string> pages;  ///< the page text each was made with
  RECT last_fit{};
  /// When set, the factory refuses with this text.
  std::optional<std::string> refuse;
  /// When set, making fails after the factory returned, with this text.
  std::optional<std::string> fail_later;
  /// When not empty, each happening is appended here: "made", "ready", "script <text>",
  /// "closed".
  std::filesystem::path report;
};

/// The class name of the stand-in's window.
inline constexpr wchar_t fake_web_view_class[] = L"ZelkFakeWebView";

WebViewFactory fake_web_view_factory(std::shared_ptr<FakeWebViewLog> log);

/// Hands a page message to a stand-in's window, as the page would post it.
void send_page_message(HWND fake_web_view, const std::string& text);

}  // namespace zelk
