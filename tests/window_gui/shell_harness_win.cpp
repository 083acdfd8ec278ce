#include "shell_harness_win.h"

#include <shellapi.h>

#include <thread>

namespace zelk {

namespace {

constexpr char call_word[] = "\x01" "call";
constexpr char end_word[] = "\x01" "end";
constexpr char mark_word[] = "\x01" "mark";
// The marker that begins a settle(); since_last_mark() counts only the ones that end it.
constexpr char first_mark_word[] = "\x01" "first-mark";
constexpr UINT flush_message = WM_APP + 20;
constexpr wchar_t flush_class[] = L"ZelkHarnessFlush";

}  // namespace

std::string loop_event_name(const LoopEvent& event) {
  if (std::holds_alternative<LoopStarted>(event)) return "Start";
  if (std::holds_alternative<WindowCloseRequested>(event)) return "Close";
  if (std::holds_alternative<WaitDeadlineReached>(event)) return "Deadline";
  const UserEvent& user = std::get<UserEvent>(event);
  static const char* const names[] = {"MenuClicked", "PageMessage",     "RefreshTick", "ShowWindow",
                                      "StatesRead",  "Resumed",         "ShelvesRead", "UpdateChecked",
                                      "UpdateInstalled", "CommandDone", "CommandLine", "WebViewFailed"};
  std::string name = names[user.index()];
  if (const auto* clicked = std::get_if<MenuClicked>(&user)) name += "(" + clicked->id + ")";
  if (const auto* message = std::get_if<PageMessage>(&user)) name += "(" + message->text + ")";
  if (const auto* line = std::get_if<CommandLine>(&user)) name += "(" + line->line + ")";
  if (const auto* failed = std::get_if<WebViewFailed>(&user)) name += "(" + failed->why + ")";
  return name;
}

ShellHarness::ShellHarness(std::wstring command_interpreter) {
  WinShell::Settings settings{.page = "<!doctype html><title>page</title>",
                              .make_web_view = fake_web_view_factory(web_)};
  if (!command_interpreter.empty()) settings.command_interpreter = std::move(command_interpreter);
  shell_ = std::make_unique<WinShell>(loop_, std::move(settings));
  WNDCLASSEXW info{};
  info.cbSize = sizeof info;
  info.lpfnWndProc = &ShellHarness::flush_procedure;
  info.hInstance = GetModuleHandleW(nullptr);
  info.lpszClassName = flush_class;
  RegisterClassExW(&info);
  flush_window_ = CreateWindowExW(0, flush_class, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(flush_window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

ShellHarness::~ShellHarness() { DestroyWindow(flush_window_); }

LRESULT CALLBACK ShellHarness::flush_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* harness = reinterpret_cast<ShellHarness*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (harness == nullptr || message != flush_message) return DefWindowProcW(window, message, wparam, lparam);
  {
    std::lock_guard lock(harness->mutex_);
    harness->flushes_ = static_cast<int>(wparam);
  }
  harness->changed_.notify_all();
  return 0;
}

ControlFlow ShellHarness::standard_reaction(const LoopEvent& event, WinShell& shell) {
  if (std::holds_alternative<WindowCloseRequested>(event)) {
    shell.close_window();
  } else if (const auto* user = std::get_if<UserEvent>(&event);
             user != nullptr && std::holds_alternative<ShowWindow>(*user)) {
    if (shell.window_open()) {
      shell.raise_window();
    } else {
      (void)shell.open_window();
    }
  }
  return ControlFlow::wait();
}

ControlFlow ShellHarness::handle(LoopEvent event) {
  if (const auto* user = std::get_if<UserEvent>(&event)) {
    if (const auto* message = std::get_if<PageMessage>(user)) {
      if (message->text == call_word) {
        std::function<void()> call;
        {
          std::lock_guard lock(mutex_);
          call = std::move(calls_.front());
          calls_.pop_front();
        }
        call();
        return ControlFlow::wait();
      }
      if (message->text == end_word) return ControlFlow::exit(0);
    }
  }
  {
    std::lock_guard lock(mutex_);
    seen_.push_back(loop_event_name(event));
  }
  changed_.notify_all();
  return reaction_(event, *shell_);
}

int ShellHarness::run(const std::function<void()>& driver, Reaction reaction) {
  reaction_ = std::move(reaction);
  std::thread steps([this, &driver] {
    driver();
    proxy()->send(PageMessage{end_word});
  });
  const int code = loop_.run([this](LoopEvent event) { return handle(std::move(event)); }, {});
  steps.join();
  return code;
}

void ShellHarness::on_loop(std::function<void()> function) {
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  {
    std::lock_guard lock(mutex_);
    calls_.push_back([&function, &done] {
      function();
      done.set_value();
    });
  }
  proxy()->send(PageMessage{call_word});
  finished.wait();
}

bool ShellHarness::wait_for(const std::function<bool(const std::vector<std::string>&)>& condition,
                            std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return condition(seen_); });
}

bool ShellHarness::wait_for_event(const std::string& name, std::chrono::milliseconds limit) {
  return wait_for(
      [&](const std::vector<std::string>& seen) { return std::find(seen.begin(), seen.end(), name) != seen.end(); },
      limit);
}

void ShellHarness::send_mark(const std::string& mark) {
  proxy()->send(PageMessage{mark});
  wait_for_event("PageMessage(" + mark + ")");
}

void ShellHarness::flush_posted_messages() {
  std::unique_lock lock(mutex_);
  const int number = flushes_ + 1;
  PostMessageW(flush_window_, flush_message, static_cast<WPARAM>(number), 0);
  changed_.wait_for(lock, std::chrono::seconds(20), [&] { return flushes_ >= number; });
}

void ShellHarness::settle() {
  int number = 0;
  {
    std::lock_guard lock(mutex_);
    number = ++marks_;
  }
  // The loop may hand queued events to the handler before window messages posted earlier
  // (a web view that becomes ready, a page message): first the events, then those messages,
  // then the events they sent.
  send_mark(std::string(first_mark_word) + std::to_string(number));
  flush_posted_messages();
  send_mark(std::string(mark_word) + std::to_string(number));
}

std::vector<std::string> ShellHarness::seen() const {
  std::lock_guard lock(mutex_);
  return seen_;
}

std::vector<std::string> ShellHarness::since_last_mark() const {
  std::lock_guard lock(mutex_);
  const auto is_mark = [](const std::string& name, const char* word) {
    return name.rfind(std::string("PageMessage(") + word, 0) == 0;
  };
  // Everything after the last settle() but one, up to the last, without the markers.
  std::vector<std::size_t> ends;
  for (std::size_t index = 0; index < seen_.size(); ++index) {
    if (is_mark(seen_[index], mark_word)) ends.push_back(index);
  }
  if (ends.empty()) return {};
  const std::size_t end = ends.back();
  const std::size_t begin = ends.size() >= 2 ? ends[ends.size() - 2] + 1 : 0;
  std::vector<std::string> events;
  for (std::size_t index = begin; index < end; ++index) {
    if (!is_mark(seen_[index], first_mark_word)) events.push_back(seen_[index]);
  }
  return events;
}

bool tray_icon_present(HWND owner, UINT id) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = owner;
  data.uID = id;
  data.uFlags = 0;
  return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

}  // namespace zelk
