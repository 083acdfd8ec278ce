#include "event_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelk {
namespace {

TEST(EventQueue, EveryEventFromManySendersArrivesInEachSendersOrder) {
  std::atomic<int> wakes = 0;
  EventQueue queue([&] { wakes.fetch_add(1); });
  constexpr int senders = 4;
  constexpr int per_sender = 5000;
  std::vector<std::jthread> threads;
  for (int s = 0; s < senders; ++s) {
    threads.emplace_back([&queue, s] {
      for (int i = 0; i < per_sender; ++i) {
        ASSERT_TRUE(queue.send(PageMessage{std::to_string(s) + ":" + std::to_string(i)}));
      }
    });
  }
  std::map<int, int> next;  // sender -> the number its next event must carry
  int received = 0;
  while (received < senders * per_sender) {
    for (auto& event : queue.take_all()) {
      const auto& text = std::get<PageMessage>(event).text;
      const int sender = std::stoi(text.substr(0, text.find(':')));
      const int number = std::stoi(text.substr(text.find(':') + 1));
      ASSERT_EQ(number, next[sender]) << text;
      ++next[sender];
      ++received;
    }
    std::this_thread::yield();
  }
  threads.clear();
  EXPECT_TRUE(queue.take_all().empty());
  EXPECT_GE(wakes.load(), 1);
  EXPECT_LE(wakes.load(), senders * per_sender);
}

TEST(EventQueue, WakesOnlyWhenAnEventArrivesAtAnEmptyQueue) {
  int wakes = 0;
  EventQueue queue([&] { ++wakes; });
  EXPECT_TRUE(queue.send(RefreshTick{}));
  EXPECT_TRUE(queue.send(ShowWindow{}));
  EXPECT_TRUE(queue.send(RefreshTick{}));
  EXPECT_EQ(wakes, 1);
  const auto events = queue.take_all();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_TRUE(std::holds_alternative<ShowWindow>(events[1]));
  EXPECT_TRUE(queue.send(RefreshTick{}));
  EXPECT_EQ(wakes, 2);
}

TEST(EventQueue, AWakeUpUnderWayEndsBeforeCloseReturns) {
  // The loop closes the queue and then lets go of what a wake-up reaches (the window that takes
  // the wake message): no sender's wake-up may still be running once close() has returned.
  std::mutex mutex;
  std::condition_variable changed;
  bool waking = false;
  bool closed = false;  // close() has returned
  bool woke_past_close = false;
  EventQueue queue([&] {
    std::unique_lock lock(mutex);
    waking = true;
    changed.notify_all();
    // Far longer than close() takes, were it not to wait for this wake-up.
    changed.wait_for(lock, std::chrono::seconds(2), [&] { return closed; });
    woke_past_close = closed;
  });
  std::thread sender([&] { queue.send(RefreshTick{}); });
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return waking; });
  }
  queue.close();
  {
    const std::lock_guard lock(mutex);
    closed = true;
  }
  changed.notify_all();
  sender.join();
  EXPECT_FALSE(woke_past_close);
}

TEST(EventQueue, AClosedQueueRefusesAndDropsEvents) {
  EventQueue queue([] {});
  EXPECT_TRUE(queue.send(RefreshTick{}));
  queue.close();
  EXPECT_FALSE(queue.send(ShowWindow{}));
  EXPECT_TRUE(queue.take_all().empty());
}

}  // namespace
}  // namespace zelk
