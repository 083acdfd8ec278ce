#include "side_by_side.h"

#include <utility>

namespace zelk {

void SideBySide::add(std::function<void()> task, bool now) {
  const std::lock_guard lock(mutex_);
  queue_.push_back(std::move(task));
  if (now && running_ < bound_) start_helper();
}

void SideBySide::wait() {
  finish();
  std::exception_ptr thrown;
  {
    const std::lock_guard lock(mutex_);
    thrown = std::exchange(thrown_, nullptr);
  }
  if (thrown) std::rethrow_exception(thrown);
}

void SideBySide::finish() {
  std::unique_lock lock(mutex_);
  // The waiting thread takes one place; helpers take the others the queue can use.
  while (running_ + 1 < bound_ && queue_.size() > helpers_waiting_ + 1) {
    if (!start_helper()) break;
  }
  while (!queue_.empty() && running_ < bound_) {
    ++running_;
    run_queue(lock);
  }
  lock.unlock();
  for (std::thread& helper : helpers_) {
    if (helper.joinable()) helper.join();
  }
}

bool SideBySide::start_helper() {
  ++running_;
  ++helpers_waiting_;
  try {
    helpers_.emplace_back([this] {
      std::unique_lock lock(mutex_);
      --helpers_waiting_;
      run_queue(lock);
    });
    return true;
  } catch (...) {
    // No thread, or no room to keep one: the task waits for another place.
    --running_;
    --helpers_waiting_;
    return false;
  }
}

void SideBySide::run_queue(std::unique_lock<std::mutex>& lock) {
  while (!queue_.empty()) {
    std::function<void()> task = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    std::exception_ptr thrown;
    try {
      task();
    } catch (...) {
      thrown = std::current_exception();
    }
    lock.lock();
    if (thrown && !thrown_) thrown_ = std::move(thrown);
  }
  --running_;
}

}  // namespace zelk
