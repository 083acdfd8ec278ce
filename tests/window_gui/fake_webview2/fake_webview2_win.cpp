// A stand-in for the WebView2 runtime, for the window's tests under Wine, where no WebView2
// runs. Built as WebView2Loader.dll and laid beside a copy of a program, it is taken for the
// loader, and the program's own web view code drives it through its COM declarations. Like
// the runtime, it makes the environment and the controller on later turns of the message
// loop, tells of the page's navigation as it starts and, on another turn, as it completes,
// runs scripts, and hands a posted page message over in both of the forms the runtime gives
// (its JSON form and its plain form). It also answers as the runtime's own library would, for
// a program that finds the installed runtime through the registry. Told by the environment:
//   ZELK_FAKE_WEBVIEW2_REPORT  a file it appends each happening to, one a line:
//                              "environment <data folder>" ("environment (none)" without
//                              one), "controller", "navigate", "navigation refused",
//                              "loaded", "load failed", "script <text>", "closed"
//   ZELK_FAKE_WEBVIEW2_FAIL    where making the web view fails after it has begun:
//                              "environment", "controller" or "load"
// A test hands it a page message as the page would post it: WM_COPYDATA (tag "ZELK") with the
// message's UTF-8 bytes, sent to its window, class "ZelkFakeWebView2", a child of the
// program's window.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "webview2_com_win.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

using namespace zelk::webview2;

constexpr wchar_t page_window_class[] = L"ZelkFakeWebView2";
constexpr wchar_t later_window_class[] = L"ZelkFakeWebView2Later";
constexpr UINT later_message = WM_APP + 1;
constexpr ULONG_PTR page_message_tag = 0x5A454C4B;  // "ZELK"
constexpr UINT64 page_navigation_id = 1;
constexpr int load_error_status = 7;

HINSTANCE this_library() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

std::wstring environment_value(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), size));
  return value;
}

std::string utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::wstring wide(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
  return text;
}

void report(const std::string& line) {
  const std::wstring path = environment_value(L"ZELK_FAKE_WEBVIEW2_REPORT");
  if (path.empty()) return;
  std::ofstream(std::filesystem::path(path), std::ios::app | std::ios::binary) << line << '\n';
}

bool fails_at(std::wstring_view step) { return environment_value(L"ZELK_FAKE_WEBVIEW2_FAIL") == step; }

// A string the program takes and frees with CoTaskMemFree; NULs inside are kept.
LPWSTR task_text(std::wstring_view text) {
  auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text.data(), text.size() * sizeof(wchar_t));
  copy[text.size()] = L'\0';
  return copy;
}

// A posted string in its JSON form, as the runtime writes it.
std::wstring json_of(std::wstring_view text) {
  std::wstring json = L"\"";
  for (const wchar_t c : text) {
    if (c == L'"' || c == L'\\') {
      json += L'\\';
      json += c;
    } else if (c < 0x20) {
      constexpr wchar_t digits[] = L"0123456789abcdef";
      json += L"\\u00";
      json += digits[c >> 4];
      json += digits[c & 0xF];
    } else {
      json += c;
    }
  }
  return json + L"\"";
}

// ---------------------------------------------------------------------------------------
// Work for a later turn of the message loop, in the order asked for.

LRESULT CALLBACK later_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != later_message) return DefWindowProcW(window, message, wparam, lparam);
  auto* work = reinterpret_cast<std::function<void()>*>(lparam);
  (*work)();
  delete work;
  return 0;
}

void later(std::function<void()> work) {
  static HWND window = [] {
    WNDCLASSEXW info{};
    info.cbSize = sizeof info;
    info.lpfnWndProc = later_procedure;
    info.hInstance = this_library();
    info.lpszClassName = later_window_class;
    RegisterClassExW(&info);
    return CreateWindowExW(0, later_window_class, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, this_library(),
                           nullptr);
  }();
  PostMessageW(window, later_message, 0, reinterpret_cast<LPARAM>(new std::function<void()>(std::move(work))));
}

// ---------------------------------------------------------------------------------------
// COM objects.

template <typename Interface>
class Object : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *object = static_cast<Interface*>(this);
      this->AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~Object() = default;

 private:
  std::atomic<ULONG> references_{1};
};

// The handlers of one event, by token.
template <typename EventHandler>
class Handlers {
 public:
  Handlers() = default;
  Handlers(const Handlers&) = delete;
  Handlers& operator=(const Handlers&) = delete;
  ~Handlers() { clear(); }

  HRESULT add(EventHandler* handler, EventRegistrationToken* token) {
    if (handler == nullptr || token == nullptr) return E_POINTER;
    handler->AddRef();
    token->value = ++last_;
    handlers_[token->value] = handler;
    return S_OK;
  }
  HRESULT remove(EventRegistrationToken token) {
    if (const auto found = handlers_.find(token.value); found != handlers_.end()) {
      found->second->Release();
      handlers_.erase(found);
    }
    return S_OK;
  }
  void clear() {
    for (auto& [token, handler] : handlers_) handler->Release();
    handlers_.clear();
  }
  template <typename... Arguments>
  void invoke(Arguments... arguments) {
    std::vector<EventHandler*> now;
    for (auto& [token, handler] : handlers_) {
      handler->AddRef();
      now.push_back(handler);
    }
    for (EventHandler* handler : now) {
      handler->Invoke(arguments...);
      handler->Release();
    }
  }

 private:
  std::int64_t last_ = 0;
  std::map<std::int64_t, EventHandler*> handlers_;
};

class Settings final : public Object<ICoreWebView2Settings> {
 public:
  HRESULT STDMETHODCALLTYPE get_IsScriptEnabled(BOOL* value) override { return answer(value); }
  HRESULT STDMETHODCALLTYPE put_IsScriptEnabled(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_IsWebMessageEnabled(BOOL* value) override { return answer(value); }
  HRESULT STDMETHODCALLTYPE put_IsWebMessageEnabled(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_AreDefaultScriptDialogsEnabled(BOOL* value) override { return answer(value); }
  HRESULT STDMETHODCALLTYPE put_AreDefaultScriptDialogsEnabled(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_IsStatusBarEnabled(BOOL* value) override { return answer(value); }
  HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_AreDevToolsEnabled(BOOL* value) override { return answer(value); }
  HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_AreDefaultContextMenusEnabled(BOOL* value) override { return answer(value); }
  HRESULT STDMETHODCALLTYPE put_AreDefaultContextMenusEnabled(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_AreHostObjectsAllowed(BOOL* value) override { return answer(value); }
  HRESULT STDMETHODCALLTYPE put_AreHostObjectsAllowed(BOOL) override { return S_OK; }

 private:
  static HRESULT answer(BOOL* value) {
    if (value == nullptr) return E_POINTER;
    *value = TRUE;
    return S_OK;
  }
};

class NavigationStartingArguments final : public Object<ICoreWebView2NavigationStartingEventArgs> {
 public:
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override {
    if (uri == nullptr) return E_POINTER;
    *uri = task_text(L"about:blank");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) override { return no(value); }
  HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL* value) override { return no(value); }
  HRESULT STDMETHODCALLTYPE get_RequestHeaders(IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* value) override {
    if (value == nullptr) return E_POINTER;
    *value = cancel;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL value) override {
    cancel = value;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* id) override {
    if (id == nullptr) return E_POINTER;
    *id = page_navigation_id;
    return S_OK;
  }

  BOOL cancel = FALSE;

 private:
  static HRESULT no(BOOL* value) {
    if (value == nullptr) return E_POINTER;
    *value = FALSE;
    return S_OK;
  }
};

class NavigationCompletedArguments final : public Object<ICoreWebView2NavigationCompletedEventArgs> {
 public:
  explicit NavigationCompletedArguments(bool success) : success_(success) {}
  HRESULT STDMETHODCALLTYPE get_IsSuccess(BOOL* value) override {
    if (value == nullptr) return E_POINTER;
    *value = success_ ? TRUE : FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_WebErrorStatus(int* status) override {
    if (status == nullptr) return E_POINTER;
    *status = success_ ? 0 : load_error_status;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* id) override {
    if (id == nullptr) return E_POINTER;
    *id = page_navigation_id;
    return S_OK;
  }

 private:
  bool success_;
};

class WebMessageArguments final : public Object<ICoreWebView2WebMessageReceivedEventArgs> {
 public:
  explicit WebMessageArguments(std::wstring text) : text_(std::move(text)) {}
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* source) override {
    if (source == nullptr) return E_POINTER;
    *source = task_text(L"about:blank");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* json) override {
    if (json == nullptr) return E_POINTER;
    *json = task_text(json_of(text_));
    return S_OK;
  }
  // The plain form holds the text as it is, NULs included; a reader of the returned string
  // sees it end at the first of them.
  HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* text) override {
    if (text == nullptr) return E_POINTER;
    *text = task_text(text_);
    return S_OK;
  }

 private:
  std::wstring text_;
};

LRESULT CALLBACK page_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

class WebView final : public Object<ICoreWebView2> {
 public:
  explicit WebView(HWND parent) {
    WNDCLASSEXW info{};
    info.cbSize = sizeof info;
    info.lpfnWndProc = page_procedure;
    info.hInstance = this_library();
    info.lpszClassName = page_window_class;
    RegisterClassExW(&info);
    page_window_ = CreateWindowExW(0, page_window_class, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent, nullptr,
                                   this_library(), nullptr);
    SetWindowLongPtrW(page_window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }

  void close() {
    if (closed_) return;
    closed_ = true;
    report("closed");
    SetWindowLongPtrW(page_window_, GWLP_USERDATA, 0);
    DestroyWindow(page_window_);
    starting_.clear();
    completed_.clear();
    frame_starting_.clear();
    new_window_.clear();
    messages_.clear();
  }
  void place(const RECT& bounds) {
    if (!closed_) {
      MoveWindow(page_window_, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, TRUE);
    }
  }

  // A message the page posted, handed to the program as the runtime hands it.
  void posted(const std::wstring& text) {
    if (closed_) return;
    auto* arguments = new WebMessageArguments(text);
    messages_.invoke(static_cast<ICoreWebView2*>(this),
                     static_cast<ICoreWebView2WebMessageReceivedEventArgs*>(arguments));
    arguments->Release();
  }

  HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** settings) override {
    if (settings == nullptr) return E_POINTER;
    *settings = new Settings;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR) override {
    if (closed_) return E_FAIL;
    report("navigate");
    AddRef();
    later([this] {
      if (!closed_) {
        auto* arguments = new NavigationStartingArguments;
        starting_.invoke(static_cast<ICoreWebView2*>(this),
                         static_cast<ICoreWebView2NavigationStartingEventArgs*>(arguments));
        const bool refused = arguments->cancel != FALSE;
        arguments->Release();
        if (refused) {
          report("navigation refused");
        } else {
          AddRef();
          later([this] {
            complete_load();
            Release();
          });
        }
      }
      Release();
    });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_NavigationStarting(NavigationStartingEventHandler* handler,
                                                   EventRegistrationToken* token) override {
    return starting_.add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_NavigationStarting(EventRegistrationToken token) override {
    return starting_.remove(token);
  }
  HRESULT STDMETHODCALLTYPE add_ContentLoading(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_ContentLoading(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_SourceChanged(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_SourceChanged(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_HistoryChanged(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_HistoryChanged(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_NavigationCompleted(NavigationCompletedEventHandler* handler,
                                                    EventRegistrationToken* token) override {
    return completed_.add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_NavigationCompleted(EventRegistrationToken token) override {
    return completed_.remove(token);
  }
  HRESULT STDMETHODCALLTYPE add_FrameNavigationStarting(NavigationStartingEventHandler* handler,
                                                        EventRegistrationToken* token) override {
    return frame_starting_.add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_FrameNavigationStarting(EventRegistrationToken token) override {
    return frame_starting_.remove(token);
  }
  HRESULT STDMETHODCALLTYPE add_FrameNavigationCompleted(IUnknown*, EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_FrameNavigationCompleted(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_ScriptDialogOpening(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_ScriptDialogOpening(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_PermissionRequested(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_PermissionRequested(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_ProcessFailed(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_ProcessFailed(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(LPCWSTR, AddScriptCompletedHandler* handler) override {
    if (closed_) return E_FAIL;
    if (handler != nullptr) {
      handler->AddRef();
      later([handler] {
        handler->Invoke(S_OK, L"1");
        handler->Release();
      });
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR script, ExecuteScriptCompletedHandler* handler) override {
    if (closed_) return E_FAIL;
    report("script " + utf8(script == nullptr ? L"" : script));
    if (handler != nullptr) {
      handler->AddRef();
      later([handler] {
        handler->Invoke(S_OK, L"null");
        handler->Release();
      });
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CapturePreview(int, IStream*, IUnknown*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reload() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_WebMessageReceived(WebMessageReceivedEventHandler* handler,
                                                   EventRegistrationToken* token) override {
    return messages_.add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken token) override {
    return messages_.remove(token);
  }
  HRESULT STDMETHODCALLTYPE CallDevToolsProtocolMethod(LPCWSTR, LPCWSTR, IUnknown*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_CanGoForward(BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GoBack() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GoForward() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDevToolsProtocolEventReceiver(LPCWSTR, IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_NewWindowRequested(NewWindowRequestedEventHandler* handler,
                                                   EventRegistrationToken* token) override {
    return new_window_.add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_NewWindowRequested(EventRegistrationToken token) override {
    return new_window_.remove(token);
  }

 private:
  ~WebView() override { close(); }

  void complete_load() {
    if (closed_) return;
    const bool success = !fails_at(L"load");
    report(success ? "loaded" : "load failed");
    auto* arguments = new NavigationCompletedArguments(success);
    completed_.invoke(static_cast<ICoreWebView2*>(this),
                      static_cast<ICoreWebView2NavigationCompletedEventArgs*>(arguments));
    arguments->Release();
  }

  HWND page_window_ = nullptr;
  bool closed_ = false;
  Handlers<NavigationStartingEventHandler> starting_;
  Handlers<NavigationCompletedEventHandler> completed_;
  Handlers<NavigationStartingEventHandler> frame_starting_;
  Handlers<NewWindowRequestedEventHandler> new_window_;
  Handlers<WebMessageReceivedEventHandler> messages_;
};

LRESULT CALLBACK page_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* view = reinterpret_cast<WebView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (view == nullptr || message != WM_COPYDATA) return DefWindowProcW(window, message, wparam, lparam);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
  if (data->dwData != page_message_tag) return FALSE;
  view->AddRef();
  view->posted(wide(std::string_view(static_cast<const char*>(data->lpData), data->cbData)));
  view->Release();
  return TRUE;
}

class Controller final : public Object<ICoreWebView2Controller> {
 public:
  explicit Controller(HWND parent) : parent_(parent), view_(new WebView(parent)) {}

  HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* visible) override {
    if (visible == nullptr) return E_POINTER;
    *visible = visible_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL visible) override {
    visible_ = visible;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Bounds(RECT* bounds) override {
    if (bounds == nullptr) return E_POINTER;
    *bounds = bounds_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override {
    bounds_ = bounds;
    if (view_ != nullptr) view_->place(bounds);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_ZoomFactor(double*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_ZoomFactor(double) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_ZoomFactorChanged(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_ZoomFactorChanged(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetBoundsAndZoomFactor(RECT, double) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE MoveFocus(int) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE add_MoveFocusRequested(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_MoveFocusRequested(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_GotFocus(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_GotFocus(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_LostFocus(IUnknown*, EventRegistrationToken*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE remove_LostFocus(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE add_AcceleratorKeyPressed(IUnknown*, EventRegistrationToken*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE remove_AcceleratorKeyPressed(EventRegistrationToken) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND* parent) override {
    if (parent == nullptr) return E_POINTER;
    *parent = parent_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close() override {
    if (view_ != nullptr) {
      view_->close();
      view_->Release();
      view_ = nullptr;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** view) override {
    if (view == nullptr) return E_POINTER;
    if (view_ == nullptr) return E_FAIL;
    view_->AddRef();
    *view = view_;
    return S_OK;
  }

 private:
  ~Controller() override { Close(); }

  HWND parent_;
  WebView* view_;
  BOOL visible_ = FALSE;
  RECT bounds_{};
};

class Environment final : public Object<ICoreWebView2Environment> {
 public:
  HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(HWND parent, ControllerCompletedHandler* handler) override {
    if (handler == nullptr) return E_POINTER;
    handler->AddRef();
    later([parent, handler] {
      if (fails_at(L"controller")) {
        handler->Invoke(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), nullptr);
      } else {
        report("controller");
        auto* controller = new Controller(parent);
        handler->Invoke(S_OK, controller);
        controller->Release();
      }
      handler->Release();
    });
    return S_OK;
  }
};

HRESULT create_environment(PCWSTR data_folder, EnvironmentCompletedHandler* handler) {
  report("environment " + (data_folder == nullptr ? std::string("(none)") : utf8(data_folder)));
  if (handler == nullptr) return E_POINTER;
  handler->AddRef();
  later([handler] {
    if (fails_at(L"environment")) {
      handler->Invoke(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), nullptr);
    } else {
      auto* environment = new Environment;
      handler->Invoke(S_OK, environment);
      environment->Release();
    }
    handler->Release();
  });
  return S_OK;
}

}  // namespace

// The loader's entry point.
extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR, PCWSTR data_folder, IUnknown*, EnvironmentCompletedHandler* handler) {
  return create_environment(data_folder, handler);
}

// The installed runtime's own entry point, which the loader calls.
extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE CreateWebViewEnvironmentWithOptionsInternal(
    bool, int, PCWSTR data_folder, IUnknown*, EnvironmentCompletedHandler* handler) {
  return create_environment(data_folder, handler);
}
