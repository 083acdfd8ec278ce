// The program's web view on WebView2, through a small COM layer of its own: the few
// interfaces it calls are declared in webview2_com_win.h from their published shapes, since no
// WebView2 header or import library is part of this build.
//
// Where the runtime comes from:
// 1. WebView2Loader.dll lying beside the program: its CreateCoreWebView2EnvironmentWithOptions
//    finds the installed runtime and makes the environment (the documented way).
// 2. Otherwise the installed WebView2 runtime itself: its install folder and version are read
//    from the keys Microsoft's updater keeps for it (EdgeUpdate/ClientState and
//    EdgeUpdate/Clients, product {F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}, per machine and per
//    user), and the environment is made by the entry point the loader itself calls,
//    CreateWebViewEnvironmentWithOptionsInternal of the runtime's library
//    <version>/EBWebView/x64/EmbeddedBrowserWebView.dll.
// 3. Neither: the window cannot be opened, and the user is told what to install.
//
// Everything here runs on the window's thread, in its single-threaded COM apartment; the
// runtime calls back through that thread's message loop.
#include <windows.h>
#include <eventtoken.h>
#include <objbase.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "page_message_json.h"
#include "platform.h"
#include "program_starts_win.h"
#include "web_view_win.h"
#include "webview2_com_win.h"
#include "wide_win.h"

namespace zelk {

namespace {

using namespace webview2;

// ---------------------------------------------------------------------------------------
// A little COM support: an owning pointer, and handler objects made from a function.

template <typename Interface>
class ComPtr {
 public:
  ComPtr() = default;
  explicit ComPtr(Interface* pointer) : pointer_(pointer) {}  // takes a reference already held
  ComPtr(const ComPtr& other) : pointer_(other.pointer_) {
    if (pointer_ != nullptr) pointer_->AddRef();
  }
  ComPtr& operator=(ComPtr other) {
    std::swap(pointer_, other.pointer_);
    return *this;
  }
  ~ComPtr() { reset(); }
  void reset() {
    if (pointer_ != nullptr) std::exchange(pointer_, nullptr)->Release();
  }
  Interface* get() const { return pointer_; }
  Interface* operator->() const { return pointer_; }
  Interface** put() {
    reset();
    return &pointer_;
  }
  explicit operator bool() const { return pointer_ != nullptr; }

 private:
  Interface* pointer_ = nullptr;
};

template <typename Interface>
class Callback;

template <typename... Arguments>
class Callback<Handler<Arguments...>> final : public Handler<Arguments...> {
 public:
  using Body = std::function<HRESULT(Arguments...)>;

  static ComPtr<Handler<Arguments...>> make(const IID& iid, Body body) {
    return ComPtr<Handler<Arguments...>>(new Callback(iid, std::move(body)));
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, iid_)) {
      *object = static_cast<Handler<Arguments...>*>(this);
      AddRef();
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
  HRESULT STDMETHODCALLTYPE Invoke(Arguments... arguments) override { return body_(arguments...); }

 private:
  Callback(const IID& iid, Body body) : iid_(iid), body_(std::move(body)) {}
  ~Callback() = default;

  IID iid_;
  Body body_;
  std::atomic<ULONG> references_{1};
};

template <typename Interface>
ComPtr<Interface> make_callback(const IID& iid, typename Callback<Interface>::Body body) {
  return Callback<Interface>::make(iid, std::move(body));
}

// The text a page posted, from its JSON form (the plain form ends at the first NUL the text
// holds); none when that form is not one whole string.
std::optional<std::string> posted_text(ICoreWebView2WebMessageReceivedEventArgs* arguments) {
  LPWSTR json = nullptr;
  if (FAILED(arguments->get_WebMessageAsJson(&json)) || json == nullptr) return std::nullopt;
  const std::wstring_view wide(json);
  const std::u16string units(wide.begin(), wide.end());
  CoTaskMemFree(json);
  return page_message_from_json(units);
}

// ---------------------------------------------------------------------------------------
// Finding the runtime.

constexpr char runtime_missing[] = "Microsoft Edge WebView2 Runtime is missing. Install it.";

std::string hresult_text(HRESULT result) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  return std::string("WebView2 did not start (error ") + code + ").";
}

// What the runtime's absence looks like when the loader or the runtime reports it.
bool means_missing(HRESULT result) {
  return result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || result == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) ||
         result == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
}

std::string failure_text(HRESULT result) { return means_missing(result) ? runtime_missing : hresult_text(result); }

std::optional<std::wstring> registry_text(HKEY root, const std::wstring& key, const wchar_t* value) {
  DWORD size = 0;
  if (RegGetValueW(root, key.c_str(), value, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS || size == 0) {
    return std::nullopt;
  }
  std::wstring text(size / sizeof(wchar_t), L'\0');
  if (RegGetValueW(root, key.c_str(), value, RRF_RT_REG_SZ, nullptr, text.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  text.resize(wcsnlen(text.c_str(), text.size()));
  if (text.empty()) return std::nullopt;
  return text;
}

// The installed runtime's EmbeddedBrowserWebView.dll, by the updater's keys: the per-machine
// install first, then the user's own.
std::optional<std::filesystem::path> installed_runtime_library() {
  constexpr wchar_t product[] = L"{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
  struct Place {
    HKEY root;
    std::wstring base;
  };
  const std::vector<Place> places{
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\"},
      {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\EdgeUpdate\\"},
      {HKEY_CURRENT_USER, L"Software\\Microsoft\\EdgeUpdate\\"},
  };
  const std::filesystem::path library = std::filesystem::path(L"EBWebView") / L"x64" / L"EmbeddedBrowserWebView.dll";
  for (const Place& place : places) {
    const std::optional<std::wstring> version =
        registry_text(place.root, place.base + L"Clients\\" + product, L"pv");
    if (!version || *version == L"0.0.0.0") continue;
    std::vector<std::filesystem::path> folders;
    if (auto folder = registry_text(place.root, place.base + L"ClientState\\" + product, L"EBWebView")) {
      folders.emplace_back(*folder);
      folders.push_back(std::filesystem::path(*folder) / *version);
    }
    for (const wchar_t* variable : {L"ProgramFiles(x86)", L"ProgramFiles", L"LOCALAPPDATA"}) {
      if (auto root = get_env(from_wide_lossy(variable))) {
        folders.push_back(path_from_utf8(*root) / L"Microsoft" / L"EdgeWebView" / L"Application" / *version);
      }
    }
    for (const std::filesystem::path& folder : folders) {
      std::error_code error;
      if (std::filesystem::is_regular_file(folder / library, error)) return folder / library;
    }
  }
  return std::nullopt;
}

// Starts making the environment with whichever way there is; the handler hears the end.
HRESULT create_environment(const std::optional<std::wstring>& data_folder, EnvironmentCompletedHandler* handler,
                           bool& found) {
  found = false;
  if (auto folder = folder_of_running_program()) {
    const std::filesystem::path loader = *folder / L"WebView2Loader.dll";
    std::error_code error;
    if (std::filesystem::is_regular_file(loader, error)) {
      if (HMODULE module = LoadLibraryExW(loader.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {
        auto create = reinterpret_cast<CreateWithOptions>(
            reinterpret_cast<void*>(GetProcAddress(module, "CreateCoreWebView2EnvironmentWithOptions")));
        if (create != nullptr) {
          found = true;
          return create(nullptr, data_folder ? data_folder->c_str() : nullptr, nullptr, handler);
        }
      }
    }
  }
  if (auto library = installed_runtime_library()) {
    if (HMODULE module = LoadLibraryExW(library->c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {
      auto create = reinterpret_cast<CreateWithOptionsInternal>(
          reinterpret_cast<void*>(GetProcAddress(module, "CreateWebViewEnvironmentWithOptionsInternal")));
      if (create != nullptr) {
        found = true;
        // Without a data folder of the program's own, the loader's default: beside the
        // program, named after it.
        std::wstring folder_text;
        if (data_folder) {
          folder_text = *data_folder;
        } else {
          wchar_t path[MAX_PATH * 4] = {};
          const DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
          folder_text = std::wstring(path, length) + L".WebView2";
        }
        return create(true, 0, folder_text.c_str(), nullptr, handler);
      }
    }
  }
  return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

// The web view's data folder: LOCALAPPDATA\Valdroven AI Zelk\window; none without LOCALAPPDATA.
std::optional<std::wstring> web_data_folder() {
  static constexpr std::array<std::string_view, 2> parts = {"Valdroven AI Zelk", "window"};
  const std::optional<std::filesystem::path> folder = env_path_join("LOCALAPPDATA", parts);
  if (!folder) return std::nullopt;
  return folder->wstring();
}

// The page posts with window.ipc.postMessage, as it does in every web view the program had;
// WebView2's own channel is window.chrome.webview.
constexpr wchar_t ipc_script[] =
    L"(function () {"
    L"  var post = function (message) { window.chrome.webview.postMessage(String(message)); };"
    L"  Object.defineProperty(window, 'ipc', {value: Object.freeze({postMessage: post}), writable: false,"
    L"                                        configurable: false, enumerable: false});"
    L"})();";

// ---------------------------------------------------------------------------------------
// One web view: shared by the object the window holds and the runtime's callbacks, which can
// come after the window is gone (they then only release what they were given).

struct Session {
  HWND parent = nullptr;
  std::wstring page;
  WebViewEvents events;
  RECT bounds{};
  bool closed = false;
  bool page_requested = false;  // NavigateToString was called; its navigation is the one allowed
  std::optional<UINT64> page_navigation;  // that navigation, until its load has ended
  ComPtr<ICoreWebView2Controller> controller;
  ComPtr<ICoreWebView2> view;
  EventRegistrationToken navigation_token{};
  EventRegistrationToken navigation_completed_token{};
  EventRegistrationToken frame_navigation_token{};
  EventRegistrationToken new_window_token{};
  EventRegistrationToken message_token{};

  void fail(const std::string& why) {
    if (closed) return;
    // The window drops its web view (and with it these events) while it hears of this.
    const auto failed = events.failed;
    if (failed) failed(why);
  }

  void close() {
    if (closed) return;
    closed = true;
    if (view) {
      view->remove_NavigationStarting(navigation_token);
      view->remove_NavigationCompleted(navigation_completed_token);
      view->remove_FrameNavigationStarting(frame_navigation_token);
      view->remove_NewWindowRequested(new_window_token);
      view->remove_WebMessageReceived(message_token);
    }
    if (controller) controller->Close();
    view.reset();
    controller.reset();
    events = {};
  }
};

void refuse_navigation(ICoreWebView2NavigationStartingEventArgs* arguments) {
  if (arguments != nullptr) arguments->put_Cancel(TRUE);
}

HRESULT controller_made(const std::shared_ptr<Session>& session, HRESULT result, ICoreWebView2Controller* controller) {
  if (session->closed) {
    if (SUCCEEDED(result) && controller != nullptr) controller->Close();
    return S_OK;
  }
  if (FAILED(result) || controller == nullptr) {
    session->fail(failure_text(FAILED(result) ? result : E_FAIL));
    return S_OK;
  }
  controller->AddRef();
  session->controller = ComPtr<ICoreWebView2Controller>(controller);
  if (FAILED(controller->get_CoreWebView2(session->view.put())) || !session->view) {
    session->fail(failure_text(E_NOINTERFACE));
    return S_OK;
  }
  ICoreWebView2* view = session->view.get();

  ComPtr<ICoreWebView2Settings> settings;
  if (SUCCEEDED(view->get_Settings(settings.put())) && settings) {
    settings->put_AreDevToolsEnabled(FALSE);
    settings->put_AreHostObjectsAllowed(FALSE);
    settings->put_IsStatusBarEnabled(FALSE);
    settings->put_IsWebMessageEnabled(TRUE);
  }
  controller->put_Bounds(session->bounds);
  controller->put_IsVisible(TRUE);

  const std::weak_ptr<Session> weak = session;
  // The web view never leaves the page: the page's own first load is the one navigation
  // allowed; links, forms, scripts and reloads are refused, and so are frames and windows.
  view->add_NavigationStarting(
      make_callback<NavigationStartingEventHandler>(
          iid_navigation_starting,
          [weak](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* arguments) {
            const auto session = weak.lock();
            if (session && !session->closed && session->page_requested) {
              session->page_requested = false;
              UINT64 id = 0;
              if (arguments != nullptr && SUCCEEDED(arguments->get_NavigationId(&id))) session->page_navigation = id;
            } else {
              refuse_navigation(arguments);
            }
            return S_OK;
          })
          .get(),
      &session->navigation_token);
  // Scripts reach the page only once its load has completed; before that they would run in
  // the document being replaced. A load that fails ends the web view as any other failure.
  view->add_NavigationCompleted(
      make_callback<NavigationCompletedEventHandler>(
          iid_navigation_completed,
          [weak](ICoreWebView2*, ICoreWebView2NavigationCompletedEventArgs* arguments) {
            const auto session = weak.lock();
            if (!session || session->closed || !session->page_navigation || arguments == nullptr) return S_OK;
            UINT64 id = 0;
            if (FAILED(arguments->get_NavigationId(&id)) || id != *session->page_navigation) return S_OK;
            session->page_navigation.reset();
            BOOL success = FALSE;
            if (FAILED(arguments->get_IsSuccess(&success)) || !success) {
              int status = 0;
              arguments->get_WebErrorStatus(&status);
              session->fail("WebView2 did not load the page (error " + std::to_string(status) + ").");
            } else if (session->events.ready) {
              session->events.ready();
            }
            return S_OK;
          })
          .get(),
      &session->navigation_completed_token);
  view->add_FrameNavigationStarting(
      make_callback<NavigationStartingEventHandler>(
          iid_navigation_starting,
          [](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* arguments) {
            refuse_navigation(arguments);
            return S_OK;
          })
          .get(),
      &session->frame_navigation_token);
  view->add_NewWindowRequested(
      make_callback<NewWindowRequestedEventHandler>(
          iid_new_window_requested,
          [](ICoreWebView2*, ICoreWebView2NewWindowRequestedEventArgs* arguments) {
            if (arguments != nullptr) arguments->put_Handled(TRUE);  // handled, and no window given
            return S_OK;
          })
          .get(),
      &session->new_window_token);
  view->add_WebMessageReceived(
      make_callback<WebMessageReceivedEventHandler>(
          iid_web_message_received,
          [weak](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* arguments) {
            const auto session = weak.lock();
            if (!session || session->closed || arguments == nullptr) return S_OK;
            // A text that does not come whole is refused whole.
            if (std::optional<std::string> message = posted_text(arguments)) {
              if (session->events.page_message) session->events.page_message(std::move(*message));
            }
            return S_OK;
          })
          .get(),
      &session->message_token);

  // The page is loaded only once window.ipc is sure to be there for it.
  const HRESULT added = view->AddScriptToExecuteOnDocumentCreated(
      ipc_script, make_callback<AddScriptCompletedHandler>(iid_add_script_completed, [weak](HRESULT, LPCWSTR) {
                    const auto session = weak.lock();
                    if (!session || session->closed || !session->view) return S_OK;
                    session->page_requested = true;
                    const HRESULT navigated = session->view->NavigateToString(session->page.c_str());
                    if (FAILED(navigated)) {
                      session->page_requested = false;
                      session->fail(failure_text(navigated));
                    }
                    return S_OK;
                  }).get());
  if (FAILED(added)) session->fail(failure_text(added));
  return S_OK;
}

HRESULT environment_made(const std::shared_ptr<Session>& session, HRESULT result,
                         ICoreWebView2Environment* environment) {
  if (session->closed) return S_OK;
  if (FAILED(result) || environment == nullptr) {
    session->fail(failure_text(FAILED(result) ? result : E_FAIL));
    return S_OK;
  }
  const HRESULT started = environment->CreateCoreWebView2Controller(
      session->parent, make_callback<ControllerCompletedHandler>(
                           iid_controller_completed,
                           [session](HRESULT made, ICoreWebView2Controller* controller) {
                             return controller_made(session, made, controller);
                           })
                           .get());
  if (FAILED(started)) session->fail(failure_text(started));
  return S_OK;
}

class WebView2 final : public WebView {
 public:
  explicit WebView2(std::shared_ptr<Session> session) : session_(std::move(session)) {}
  ~WebView2() override { session_->close(); }

  void run_script(const std::string& script) override {
    if (session_->closed || !session_->view) return;
    session_->view->ExecuteScript(
        to_wide(script).c_str(),
        make_callback<ExecuteScriptCompletedHandler>(iid_execute_script_completed, [](HRESULT, LPCWSTR) {
          return S_OK;  // the page's answer is not needed
        }).get());
  }

  void fit(const RECT& client) override {
    session_->bounds = client;
    if (session_->controller) session_->controller->put_Bounds(client);
  }

  void focus() override {
    if (session_->controller) session_->controller->MoveFocus(move_focus_programmatic);
  }

 private:
  std::shared_ptr<Session> session_;
};

}  // namespace

std::expected<std::unique_ptr<WebView>, std::string> make_webview2(HWND parent, std::string_view page,
                                                                   WebViewEvents events) {
  auto session = std::make_shared<Session>();
  session->parent = parent;
  session->page = to_wide(page);
  session->events = std::move(events);
  GetClientRect(parent, &session->bounds);

  bool found = false;
  const HRESULT result = create_environment(
      web_data_folder(),
      make_callback<EnvironmentCompletedHandler>(iid_environment_completed,
                                                 [session](HRESULT made, ICoreWebView2Environment* environment) {
                                                   return environment_made(session, made, environment);
                                                 })
          .get(),
      found);
  if (!found) return std::unexpected(std::string(runtime_missing));
  if (FAILED(result)) return std::unexpected(failure_text(result));
  return std::make_unique<WebView2>(std::move(session));
}

}  // namespace zelk
