#pragma once
/// The seam between the window and the web view inside it. The program's web view is WebView2
/// (webview2_win.cpp); tests put a stand-in of their own here. Windows builds only.
#include <windows.h>

#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace zelk {

/// What a web view tells the window it lives in. Each is called on the window's thread, from
/// the message loop, never from inside the factory call.
struct WebViewEvents {
  /// A text the page posted with window.ipc.postMessage.
  std::function<void(std::string text)> page_message;
  /// The page has loaded: scripts run in it from now on.
  std::function<void()> ready;
  /// Making the web view or loading its page failed after the factory returned; the text says
  /// why. The web view is dead from then on.
  std::function<void(std::string why)> failed;
};

/// A web view that fills its parent window. Dropping it closes it.
class WebView {
 public:
  virtual ~WebView() = default;
  /// Runs a script in the page; only called once `ready` was told. Its result is ignored.
  virtual void run_script(const std::string& script) = 0;
  /// The parent's client area changed.
  virtual void fit(const RECT& client) = 0;
  /// The parent got the keyboard focus.
  virtual void focus() = 0;
};

/// Makes a web view in `parent` showing the page (HTML text held in memory). Making it may
/// go on after the call returns (then `ready` or `failed` follows); the error is a sentence
/// for the user saying why it could not even begin.
using WebViewFactory = std::function<std::expected<std::unique_ptr<WebView>, std::string>(
    HWND parent, std::string_view page, WebViewEvents events)>;

/// The program's web view, on WebView2.
std::expected<std::unique_ptr<WebView>, std::string> make_webview2(HWND parent, std::string_view page,
                                                                   WebViewEvents events);

}  // namespace zelk
