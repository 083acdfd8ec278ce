#include "event_queue.h"

#include <utility>

namespace zelk {

bool EventQueue::send(UserEvent event) const {
  bool was_empty = false;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    was_empty = events_.empty();
    events_.push_back(std::move(event));
  }
  if (was_empty) {
    const std::lock_guard waking(wake_mutex_);
    if (wake_) wake_();
  }
  return true;
}

std::deque<UserEvent> EventQueue::take_all() {
  std::lock_guard lock(mutex_);
  return std::exchange(events_, {});
}

void EventQueue::close() {
  {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    events_.clear();
  }
  const std::lock_guard waking(wake_mutex_);
  wake_ = nullptr;
}

}  // namespace zelk
