#pragma once
/// The order in which the window program's loop hands events to its handler, apart from the
/// system's message loop that drives it: the start first; then the loop's own events (close
/// request, deadline) and the queued user events in the order they came; never one event
/// inside the handling of another; nothing while a menu holds the loop; nothing after an exit.
#include <deque>
#include <functional>

#include "event_queue.h"
#include "window_events.h"

namespace zelk {

class LoopDispatcher {
 public:
  using Handler = std::function<ControlFlow(LoopEvent)>;
  /// Told the control flow each time a run of handling ends.
  using FlowSink = std::function<void(const ControlFlow&)>;

  LoopDispatcher(EventQueue& queue, Handler handler, FlowSink on_flow);

  /// Handles LoopStarted, then whatever arrived before the start. Nothing is handled before.
  void start();
  /// Adds one of the loop's own events (close request, deadline) and handles what is due.
  void post(LoopEvent event);
  /// Handles every queued event, unless the handler is already running further up the stack,
  /// the loop is held, not started, or has ended; those events then wait for the next pump.
  void pump();

  /// While held (a menu is open and owns the thread), events wait; release handles them.
  void hold();
  void release();

  /// Ends the loop from outside the handler: nothing more is handled, not even the rest of a
  /// run of handling that is under way further up the stack.
  void end() { ended_ = true; }

  bool ended() const { return ended_; }
  const ControlFlow& flow() const { return flow_; }

 private:
  bool next(LoopEvent& event);

  EventQueue& queue_;
  Handler handler_;
  FlowSink on_flow_;
  std::deque<LoopEvent> waiting_;
  ControlFlow flow_;
  bool started_ = false;
  bool handling_ = false;
  int holds_ = 0;
  bool ended_ = false;
};

}  // namespace zelk
