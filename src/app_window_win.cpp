#include "app_window_win.h"

#include "wide_win.h"

namespace zelk {

namespace {

constexpr wchar_t window_class[] = L"ValdrovenAIZelkWindow";
constexpr DWORD window_style = WS_OVERLAPPEDWINDOW;
constexpr DWORD window_ex_style = 0;

HINSTANCE this_module() { return GetModuleHandleW(nullptr); }

// The DPI functions of Windows 10 are looked up at run time, so the program still starts
// where they are missing (older systems, Wine); there it goes by the screen's DPI.
template <typename Function>
Function user32_function(const char* name) {
  static const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

UINT screen_dpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

UINT dpi_of(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static const auto get_dpi_for_window = user32_function<GetDpiForWindowFunction>("GetDpiForWindow");
  if (get_dpi_for_window != nullptr && window != nullptr) {
    if (const UINT dpi = get_dpi_for_window(window); dpi != 0) return dpi;
  }
  return screen_dpi();
}

UINT system_dpi() {
  using GetDpiForSystemFunction = UINT(WINAPI*)();
  static const auto get_dpi_for_system = user32_function<GetDpiForSystemFunction>("GetDpiForSystem");
  if (get_dpi_for_system != nullptr) {
    if (const UINT dpi = get_dpi_for_system(); dpi != 0) return dpi;
  }
  return screen_dpi();
}

// The outer size of a window whose client area is `logical` at this DPI.
SIZE outer_size(SIZE logical, UINT dpi) {
  using AdjustFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjust_for_dpi = user32_function<AdjustFunction>("AdjustWindowRectExForDpi");
  RECT rect{0, 0, MulDiv(logical.cx, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI),
            MulDiv(logical.cy, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI)};
  if (adjust_for_dpi == nullptr || !adjust_for_dpi(&rect, window_style, FALSE, window_ex_style, dpi)) {
    AdjustWindowRectEx(&rect, window_style, FALSE, window_ex_style);
  }
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

bool register_window_class(WNDPROC window_procedure) {
  WNDCLASSEXW info{};
  info.cbSize = sizeof info;
  info.style = CS_HREDRAW | CS_VREDRAW;
  info.hInstance = this_module();
  info.lpszClassName = window_class;
  info.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  info.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  info.lpfnWndProc = window_procedure;
  return RegisterClassExW(&info) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

std::string system_message(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                          FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length != 0 && text != nullptr ? std::wstring(text, length) : std::wstring();
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
    message.pop_back();
  }
  if (message.empty()) return "Windows error " + std::to_string(code) + ".";
  return from_wide_lossy(message);
}

}  // namespace

struct AppWindow::Record {
  HWND window = nullptr;
  IconHandle small_icon;
  IconHandle big_icon;
  std::unique_ptr<WebView> web_view;
  bool ready = false;
  std::deque<std::string> scripts;  // asked for before the web view was ready
};

AppWindow::AppWindow(Settings settings) : settings_(std::move(settings)) {}

AppWindow::~AppWindow() { close(); }

HWND AppWindow::handle() const { return record_ ? record_->window : nullptr; }

std::expected<void, std::string> AppWindow::open() {
  if (record_) return {};
  if (!register_window_class(&AppWindow::window_procedure)) return std::unexpected(system_message(GetLastError()));
  auto record = std::make_shared<Record>();
  const SIZE size = outer_size(window_client_size, system_dpi());
  record->window = CreateWindowExW(window_ex_style, window_class, to_wide(settings_.title).c_str(), window_style,
                                   CW_USEDEFAULT, CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr, this_module(),
                                   this);
  if (record->window == nullptr) return std::unexpected(system_message(GetLastError()));
  record_ = record;

  // The system placed the window; on a monitor of another DPI it gets that monitor's size.
  if (const UINT dpi = dpi_of(record->window); dpi != system_dpi()) {
    const SIZE scaled = outer_size(window_client_size, dpi);
    SetWindowPos(record->window, nullptr, 0, 0, scaled.cx, scaled.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  record->small_icon = mark_icon(window_small_icon_size);
  record->big_icon = mark_icon(window_big_icon_size);
  SendMessageW(record->window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(record->small_icon.get()));
  SendMessageW(record->window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(record->big_icon.get()));

  const std::weak_ptr<Record> weak = record;
  WebViewEvents events;
  events.page_message = [this, weak](std::string text) {
    if (!weak.expired() && settings_.on_page_message) settings_.on_page_message(std::move(text));
  };
  events.ready = [this, weak] { web_view_ready(weak); };
  events.failed = [this, weak](std::string why) { web_view_failed(weak, why); };
  auto web_view = settings_.make_web_view(record->window, settings_.page, std::move(events));
  if (!web_view) {
    close();
    return std::unexpected(web_view.error());
  }
  record->web_view = std::move(*web_view);
  RECT client{};
  GetClientRect(record->window, &client);
  record->web_view->fit(client);

  ::ShowWindow(record->window, SW_SHOWNORMAL);
  SetForegroundWindow(record->window);
  return {};
}

void AppWindow::raise() {
  if (!record_) return;
  const HWND window = record_->window;
  if (IsIconic(window)) ::ShowWindow(window, SW_RESTORE);
  if (IsWindowVisible(window) && !IsIconic(window) && GetForegroundWindow() != window) {
    SetForegroundWindow(window);
  }
}

void AppWindow::close() {
  if (!record_) return;
  std::shared_ptr<Record> record = std::move(record_);
  record->web_view.reset();  // the web view goes before the window it lives in
  SetWindowLongPtrW(record->window, GWLP_USERDATA, 0);
  DestroyWindow(record->window);
}

void AppWindow::run_script(std::string script) {
  if (!record_) return;
  if (!record_->web_view) return;  // it failed; the window is on its way out
  if (record_->ready) {
    record_->web_view->run_script(script);
  } else {
    record_->scripts.push_back(std::move(script));
  }
}

void AppWindow::web_view_ready(const std::weak_ptr<Record>& weak) {
  const std::shared_ptr<Record> record = weak.lock();
  if (!record || record != record_ || !record->web_view) return;
  record->ready = true;
  while (!record->scripts.empty() && record_ == record) {
    std::string script = std::move(record->scripts.front());
    record->scripts.pop_front();
    record->web_view->run_script(script);
  }
}

void AppWindow::web_view_failed(const std::weak_ptr<Record>& weak, const std::string& reason) {
  const std::shared_ptr<Record> record = weak.lock();
  if (!record || record != record_) return;
  std::string why = reason;  // the caller's copy goes with the web view
  // A window without its page is of no use: it goes out of sight at once, and the loop drops
  // it and says why, as for a window that could not be made at all.
  record->web_view.reset();
  record->ready = false;
  record->scripts.clear();
  ::ShowWindow(record->window, SW_HIDE);
  if (settings_.on_web_view_failed) settings_.on_web_view_failed(std::move(why));
}

LRESULT CALLBACK AppWindow::window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<AppWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || !self->record_ || self->record_->window != window) {
    return DefWindowProcW(window, message, wparam, lparam);
  }
  return self->on_message(window, message, wparam, lparam);
}

LRESULT AppWindow::on_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_GETMINMAXINFO: {
      const SIZE least = outer_size(window_minimum_client_size, dpi_of(window));
      auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
      limits->ptMinTrackSize = POINT{least.cx, least.cy};
      return 0;
    }
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_SIZE: {
      RECT client{};
      GetClientRect(window, &client);
      if (record_->web_view) record_->web_view->fit(client);
      return 0;
    }
    case WM_SETFOCUS:
      if (record_->web_view) record_->web_view->focus();
      return 0;
    case WM_CLOSE:
      // Nothing after this call may touch the record: the loop closes the window in it.
      if (settings_.on_close_requested) settings_.on_close_requested();
      return 0;
    case WM_QUERYENDSESSION:
      if (settings_.on_session_ending) settings_.on_session_ending();
      return TRUE;
    case WM_ENDSESSION:
      if (wparam != FALSE) {
        if (settings_.on_session_end) settings_.on_session_end();
      } else if (settings_.on_session_kept) {
        settings_.on_session_kept();
      }
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace zelk
