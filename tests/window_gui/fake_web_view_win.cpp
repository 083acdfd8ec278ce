#include "fake_web_view_win.h"

#include <fstream>

namespace zelk {

namespace {

constexpr UINT become_ready = WM_APP + 10;
constexpr ULONG_PTR page_message_tag = 0x5A454C4B;  // "ZELK"

void report(const FakeWebViewLog& log, const std::string& line) {
  if (log.report.empty()) return;
  std::ofstream file(log.report, std::ios::app | std::ios::binary);
  file << line << '\n';
}

class FakeWebView;

LRESULT CALLBACK fake_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

class FakeWebView final : public WebView {
 public:
  FakeWebView(HWND parent, std::string_view page, WebViewEvents events, std::shared_ptr<FakeWebViewLog> log)
      : events_(std::move(events)), log_(std::move(log)) {
    WNDCLASSEXW info{};
    info.cbSize = sizeof info;
    info.lpfnWndProc = fake_procedure;
    info.hInstance = GetModuleHandleW(nullptr);
    info.lpszClassName = fake_web_view_class;
    RegisterClassExW(&info);
    window_ = CreateWindowExW(0, fake_web_view_class, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ++log_->made;
    log_->pages.emplace_back(page);
    report(*log_, "made");
    // Like the real one, it is ready (or fails) only on a later turn of the loop.
    PostMessageW(window_, become_ready, 0, 0);
  }

  ~FakeWebView() override {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
    ++log_->closed;
    report(*log_, "closed");
  }

  void run_script(const std::string& script) override {
    log_->scripts.push_back(script);
    report(*log_, "script " + script);
  }

  void fit(const RECT& client) override {
    log_->last_fit = client;
    MoveWindow(window_, client.left, client.top, client.right - client.left, client.bottom - client.top, TRUE);
  }

  void focus() override { SetFocus(window_); }

  LRESULT on_message(UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == become_ready) {
      if (log_->fail_later) {
        // The window drops this object while it hears of the failure: nothing of it may be
        // used from here on, the handler included.
        const auto failed = events_.failed;
        const std::string why = *log_->fail_later;
        if (failed) failed(why);
        return 0;
      }
      report(*log_, "ready");
      if (events_.ready) events_.ready();
      return 0;
    }
    if (message == WM_COPYDATA) {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
      if (data->dwData != page_message_tag) return FALSE;
      std::string text(static_cast<const char*>(data->lpData), data->cbData);
      if (events_.page_message) events_.page_message(std::move(text));
      return TRUE;
    }
    return DefWindowProcW(window_, message, wparam, lparam);
  }

 private:
  HWND window_ = nullptr;
  WebViewEvents events_;
  std::shared_ptr<FakeWebViewLog> log_;
};

LRESULT CALLBACK fake_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* fake = reinterpret_cast<FakeWebView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (fake == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  return fake->on_message(message, wparam, lparam);
}

}  // namespace

WebViewFactory fake_web_view_factory(std::shared_ptr<FakeWebViewLog> log) {
  return [log](HWND parent, std::string_view page,
               WebViewEvents events) -> std::expected<std::unique_ptr<WebView>, std::string> {
    if (log->refuse) return std::unexpected(*log->refuse);
    return std::make_unique<FakeWebView>(parent, page, std::move(events), log);
  };
}

void send_page_message(HWND fake_web_view, const std::string& text) {
  COPYDATASTRUCT data{};
  data.dwData = page_message_tag;
  data.cbData = static_cast<DWORD>(text.size());
  data.lpData = const_cast<char*>(text.data());
  SendMessageW(fake_web_view, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
}

}  // namespace zelk
