#pragma once
// What the tests that drive the window loop with its real worker threads against the fake
// runtime program share: the added app they start, a sleep that keeps the update thread
// parked, and the worker threads joined at the end. Header only: it needs the window library,
// which only those tests link.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <expected>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "window_services.h"

namespace zelk {

/// One added app with a helper and a password, answering on `port`.
inline std::string flow_recipe(std::uint16_t port) {
  return R"(services:
  flow:
    image: localhost/zelk/flow:1.0
    environment:
      FLOW_SECRET: ${FLOW_SECRET}
    ports:
      - "127.0.0.1:${TORVO_PORT}:8080"
    depends_on:
      - db
  db:
    image: localhost/zelk/flowdb:1.0
    environment:
      PASSWORD: ${FLOW_SECRET}
x-zelk:
  format: 2
  id: flow
  name: Flow
  category: Tests
  summary: A flow through a fake runtime.
  port: )" +
         std::to_string(port) +
         R"(
  ready: /healthz
  secrets:
    FLOW_SECRET: 16
)";
}

/// Sleeps of 5 seconds or more (the update thread's) last until end(); shorter ones (the
/// readiness probe's pauses) are real.
class FlowSleeper {
 public:
  void sleep(std::chrono::nanoseconds duration) {
    if (duration < std::chrono::seconds(5)) {
      std::this_thread::sleep_for(duration);
      return;
    }
    std::unique_lock lock(mutex_);
    over_changed_.wait(lock, [this] { return over_; });
  }
  void end() {
    {
      std::lock_guard lock(mutex_);
      over_ = true;
    }
    over_changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable over_changed_;
  bool over_ = false;
};

/// Real worker threads, joined by join() once the loop has ended, before the folders go.
class FlowThreads {
 public:
  StartWorker starter() {
    return [this](std::function<void()> work) -> std::expected<void, std::string> {
      std::lock_guard lock(mutex_);
      threads_.emplace_back(std::move(work));
      return {};
    };
  }
  void join() {
    std::vector<std::thread> threads;
    {
      std::lock_guard lock(mutex_);
      threads.swap(threads_);
    }
    for (std::thread& thread : threads) thread.join();
  }

 private:
  std::mutex mutex_;
  std::vector<std::thread> threads_;
};

}  // namespace zelk
