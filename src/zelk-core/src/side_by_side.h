#pragma once
/// Runs tasks side by side on short-lived threads, at most a bound at a time: the reads of many
/// apps' states probe their apps this way, so that apps that answer late cost about one probe.

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zelk {

/// Runs tasks side by side, at most `bound` at a time, each on a thread of its own or on the
/// thread that waits for them. Tasks may be added from any thread until wait() begins.
class SideBySide {
 public:
  explicit SideBySide(std::size_t bound) : bound_(bound) {}
  SideBySide(const SideBySide&) = delete;
  SideBySide& operator=(const SideBySide&) = delete;
  ~SideBySide() { wait(); }

  /// Queues the task; with `now`, it starts at once on a thread of its own while fewer than
  /// `bound` tasks run. A thread the system refuses leaves the task to wait().
  void add(std::function<void()> task, bool now);

  /// Runs what is queued, taking part itself, and returns when every task has ended.
  void wait();

 private:
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
};

}  // namespace zelk
