#include "shell_harness_win.h"

#include <shellapi.h>

#include <thread>

namespace zelk {

namespace {

constexpr char call_word[] = "\x01" "call";
constexpr char end_word[] = "\x01" "end";
constexpr char mark_word[] = "\x01" "mark";

}  // namespace

std::string loop_event_name(const LoopEvent& event) {
  if (std::holds_alternative<LoopStarted>(event)) return "Start";
  if (std::holds_alternative<WindowCloseRequested>(event)) return "Close";
  if (std::holds_alternative<WaitDeadlineReached>(event)) return "Deadline";
  const UserEvent& user = std::get<UserEvent>(event);
  static const char* const names[] = {"MenuClicked", "PageMessage",     "RefreshTick", "ShowWindow",
                                      "StatesRead",  "Resumed",         "ShelvesRead", "UpdateChecked",
                                      "UpdateInstalled", "CommandDone", "CommandLine"};
  std::string name = names[user.index()];
  if (const auto* clicked = std::get_if<MenuClicked>(&user)) name += "(" + clicked->id + ")";
  if (const auto* message = std::get_if<PageMessage>(&user)) name += "(" + message->text + ")";
  if (const auto* line = std::get_if<CommandLine>(&user)) name += "(" + line->line + ")";
  return name;
}

ShellHarness::ShellHarness(std::wstring command_interpreter) {
  WinShell::Settings settings{.page = "<!doctype html><title>page</title>",
                              .make_web_view = fake_web_view_factory(web_)};
  if (!command_interpreter.empty()) settings.command_interpreter = std::move(command_interpreter);
  shell_ = std::make_unique<WinShell>(loop_, std::move(settings));
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

void ShellHarness::settle() {
  int number = 0;
  {
    std::lock_guard lock(mutex_);
    number = ++marks_;
  }
  const std::string mark = std::string(mark_word) + std::to_string(number);
  proxy()->send(PageMessage{mark});
  wait_for_event("PageMessage(" + mark + ")");
}

std::vector<std::string> ShellHarness::seen() const {
  std::lock_guard lock(mutex_);
  return seen_;
}

std::vector<std::string> ShellHarness::since_last_mark() const {
  std::lock_guard lock(mutex_);
  // Everything after the last mark but one, up to the last mark.
  std::vector<std::size_t> marks;
  for (std::size_t index = 0; index < seen_.size(); ++index) {
    if (seen_[index].rfind(std::string("PageMessage(") + mark_word, 0) == 0) marks.push_back(index);
  }
  if (marks.empty()) return {};
  const std::size_t end = marks.back();
  const std::size_t begin = marks.size() >= 2 ? marks[marks.size() - 2] + 1 : 0;
  return std::vector<std::string>(seen_.begin() + static_cast<std::ptrdiff_t>(begin),
                                  seen_.begin() + static_cast<std::ptrdiff_t>(end));
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
