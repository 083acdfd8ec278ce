#pragma once
/// The loop proxy's queue: unbounded, so no event is ever dropped however many workers send
/// at once, and one wake-up per batch, so the platform's own message queue (bounded, and
/// bypassed by modal loops) carries at most one message for any number of events.
#include <deque>
#include <functional>
#include <mutex>

#include "loop_seams.h"

namespace zelk {

class EventQueue final : public LoopProxy {
 public:
  /// `wake` is called, outside the queue's lock, when an event arrives at an empty queue; the
  /// loop then takes everything queued. It must be safe to call from any thread, and it must
  /// neither send nor close.
  explicit EventQueue(std::function<void()> wake) : wake_(std::move(wake)) {}

  /// Queues the event; false once the queue is closed (the event is then dropped).
  bool send(UserEvent event) const override;

  /// Takes every queued event, oldest first. Events one thread sent keep their order.
  std::deque<UserEvent> take_all();

  /// Ends the queue: later sends give false, and what is still queued is dropped. Once it has
  /// returned, no wake-up runs: one under way is waited for, so the loop may let go of what
  /// `wake` reaches.
  void close();

 private:
  mutable std::mutex wake_mutex_;  // held while `wake_` runs; close() empties it
  mutable std::function<void()> wake_;
  mutable std::mutex mutex_;
  mutable std::deque<UserEvent> events_;
  bool closed_ = false;
};

}  // namespace zelk
