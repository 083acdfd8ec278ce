#include "loop_dispatcher.h"

#include <utility>

namespace zelk {

LoopDispatcher::LoopDispatcher(EventQueue& queue, Handler handler, FlowSink on_flow)
    : queue_(queue), handler_(std::move(handler)), on_flow_(std::move(on_flow)) {}

void LoopDispatcher::start() {
  if (started_) return;
  started_ = true;
  waiting_.emplace_front(LoopStarted{});
  pump();
}

void LoopDispatcher::post(LoopEvent event) {
  if (ended_) return;
  // User events already queued came first.
  for (UserEvent& queued : queue_.take_all()) waiting_.emplace_back(std::move(queued));
  waiting_.push_back(std::move(event));
  pump();
}

bool LoopDispatcher::next(LoopEvent& event) {
  if (waiting_.empty()) {
    for (UserEvent& queued : queue_.take_all()) waiting_.emplace_back(std::move(queued));
  }
  if (waiting_.empty()) return false;
  event = std::move(waiting_.front());
  waiting_.pop_front();
  return true;
}

void LoopDispatcher::pump() {
  if (!started_ || handling_ || holds_ > 0 || ended_) return;
  handling_ = true;
  bool handled = false;
  LoopEvent event;
  while (!ended_ && holds_ == 0 && next(event)) {
    flow_ = handler_(std::move(event));
    handled = true;
    if (flow_.kind == ControlFlow::Kind::Exit) ended_ = true;
  }
  handling_ = false;
  if (handled && on_flow_) on_flow_(flow_);
}

void LoopDispatcher::hold() { ++holds_; }

void LoopDispatcher::release() {
  if (holds_ > 0) --holds_;
  pump();
}

}  // namespace zelk
