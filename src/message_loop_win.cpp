#include "message_loop_win.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace zelk {

namespace {

constexpr UINT wake_message = WM_APP + 1;
constexpr UINT_PTR deadline_timer = 1;
constexpr wchar_t window_class[] = L"ValdrovenAIZelkLoop";

HINSTANCE this_module() { return GetModuleHandleW(nullptr); }

}  // namespace

MessageLoop::MessageLoop() {
  WNDCLASSEXW window_class_info{};
  window_class_info.cbSize = sizeof window_class_info;
  window_class_info.lpfnWndProc = &MessageLoop::window_procedure;
  window_class_info.hInstance = this_module();
  window_class_info.lpszClassName = window_class;
  // A second loop in the same process (tests) finds the class registered already.
  RegisterClassExW(&window_class_info);
  // A hidden top-level window rather than a message-only one: only top-level windows hear
  // the "TaskbarCreated" broadcast that asks tray icons to come back after Explorer restarts.
  hidden_ = CreateWindowExW(WS_EX_TOOLWINDOW, window_class, L"Valdroven AI Zelk", WS_POPUP, 0, 0, 0, 0,
                            nullptr, nullptr, this_module(), this);
  if (hidden_ == nullptr) std::abort();  // the loop cannot exist without its window
  const HWND target = hidden_;
  queue_ = std::make_shared<EventQueue>([target] { PostMessageW(target, wake_message, 0, 0); });
}

MessageLoop::~MessageLoop() {
  queue_->close();
  KillTimer(hidden_, deadline_timer);
  DestroyWindow(hidden_);
}

int MessageLoop::run(LoopDispatcher::Handler handler, ExitAction on_exit) {
  on_exit_ = std::move(on_exit);
  dispatcher_ = std::make_unique<LoopDispatcher>(*queue_, std::move(handler),
                                                 [this](const ControlFlow& flow) { follow(flow); });
  dispatcher_->start();
  MSG message{};
  while (!exit_code_) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      // WM_QUIT, posted to this thread from outside (or a queue that failed): the end.
      quit();
      break;
    }
    // A close posted to any of the program's windows comes from outside ("taskkill" without
    // /f, an installer or updater asks each window in turn; the user's own close of the
    // window comes through its system menu). The first one ends the program: with the window
    // open, a start that came between the window's close and the hidden window's would hand
    // over to an instance that is about to end.
    if (message.message == WM_CLOSE) {
      quit();
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
    // A wake-up the system could not post (its queue full) must not strand the events.
    if (!exit_code_) dispatcher_->pump();
  }
  return exit_code_.value_or(0);
}

void MessageLoop::post(LoopEvent event) {
  if (dispatcher_) dispatcher_->post(std::move(event));
}

void MessageLoop::pump() {
  if (dispatcher_) dispatcher_->pump();
}

void MessageLoop::hold() {
  if (dispatcher_) dispatcher_->hold();
}

void MessageLoop::release() {
  if (dispatcher_) dispatcher_->release();
}

void MessageLoop::quit() {
  if (exit_code_) return;
  if (dispatcher_) dispatcher_->end();
  finish(0);
}

void MessageLoop::leave() {
  if (left_) return;
  left_ = true;
  if (leave_) leave_();
}

void MessageLoop::stay() {
  if (!left_ || exit_code_) return;
  if (stay_ && stay_()) {
    left_ = false;
  } else {
    quit();
  }
}

void MessageLoop::follow(const ControlFlow& flow) {
  if (exit_code_) return;  // ended already, from outside
  switch (flow.kind) {
    case ControlFlow::Kind::Wait:
      deadline_.reset();
      KillTimer(hidden_, deadline_timer);
      break;
    case ControlFlow::Kind::WaitUntil:
      deadline_ = flow.deadline;
      arm_deadline();
      break;
    case ControlFlow::Kind::Exit:
      finish(flow.exit_code);
      break;
  }
}

void MessageLoop::finish(int code) {
  deadline_.reset();
  KillTimer(hidden_, deadline_timer);
  exit_code_ = code;
  leave();
  if (on_exit_) on_exit_(code);
  // Wakes the message loop in case the exit came from a modal loop of its own.
  PostMessageW(hidden_, WM_NULL, 0, 0);
}

void MessageLoop::arm_deadline() {
  using namespace std::chrono;
  const auto left = ceil<milliseconds>(*deadline_ - LoopClock::now()).count();
  const auto wait = std::clamp<long long>(left, USER_TIMER_MINIMUM, 0x7FFFFFFF);
  SetTimer(hidden_, deadline_timer, static_cast<UINT>(wait), nullptr);
}

LRESULT CALLBACK MessageLoop::window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* loop = reinterpret_cast<MessageLoop*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (loop == nullptr || loop->hidden_ != window) return DefWindowProcW(window, message, wparam, lparam);
  return loop->on_message(message, wparam, lparam);
}

LRESULT MessageLoop::on_message(UINT message, WPARAM wparam, LPARAM lparam) {
  if (hook_) {
    if (std::optional<LRESULT> result = hook_(message, wparam, lparam)) return *result;
  }
  switch (message) {
    case wake_message:
      if (dispatcher_) dispatcher_->pump();
      return 0;
    // Closed from outside: "taskkill" without /f, an installer or updater closing the programs
    // it replaces. Left to the system, the window would go and the process would stay, holding
    // the single-instance names while nothing of it is seen. It ends as Quit ends it.
    case WM_CLOSE:
      quit();
      return 0;
    // The session ends (logging off, shutting down, or the restart manager on an installer's
    // behalf): agreed to, and the names go at once, for the new program an installer starts
    // next; when the session does end, so does the program. Called off, the program stays.
    case WM_QUERYENDSESSION:
      leave();
      return TRUE;
    case WM_ENDSESSION:
      if (wparam != FALSE) {
        quit();
      } else {
        stay();
      }
      return 0;
    case WM_TIMER:
      if (wparam != deadline_timer) break;
      if (!deadline_) {
        KillTimer(hidden_, deadline_timer);
      } else if (LoopClock::now() >= *deadline_) {
        KillTimer(hidden_, deadline_timer);
        deadline_.reset();
        post(WaitDeadlineReached{});
      } else {
        arm_deadline();  // the system's timer ran short of the deadline
      }
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hidden_, message, wparam, lparam);
}

}  // namespace zelk
