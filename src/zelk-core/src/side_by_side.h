#pragma once
/// Runs tasks side by side on short-lived threads, at most a bound at a time: the reads of many
/// apps' states probe their apps this way, so that apps that answer late cost about one probe.

#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zelk {

/// Runs tasks side by side, at most `bound` at a time, each on a thread of its own or on the
/// thread that waits for them. Tasks may be added from any thread until wait() begins. An
/// error a task throws ends no thread: wait() throws it again on the waiting thread, as if the
/// task had run there.
class SideBySide {
 public:
  explicit SideBySide(std::size_t bound) : bound_(bound) {}
  SideBySide(const SideBySide&) = delete;
  SideBySide& operator=(const SideBySide&) = delete;
  /// Waits for the tasks; what they threw is dropped (a wait() that throws comes first).
  ~SideBySide() { finish(); }

  /// Queues the task; with `now`, it starts at once on a thread of its own while fewer than
  /// `bound` tasks run. A thread the system refuses leaves the task to wait().
  void add(std::function<void()> task, bool now);

  /// Runs what is queued, taking part itself, and returns when every task has ended; then
  /// throws the first error a task threw, if any.
  void wait();

 private:
  // wait() without the throw.
  void finish();
  // Called with the lock held.
  bool start_helper();
  // Takes tasks until none is left, then gives up its place. Called with the lock held.
  void run_queue(std::unique_lock<std::mutex>& lock);

  const std::size_t bound_;
  std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
  std::size_t running_ = 0;          // tasks' places taken, by helpers and the waiting thread
  std::size_t helpers_waiting_ = 0;  // helpers started that have not yet taken a task
  std::vector<std::thread> helpers_;
  std::exception_ptr thrown_;  // the first error a task threw
};

}  // namespace zelk
