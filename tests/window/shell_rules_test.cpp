// The window shell's plain rules: the --window switch, what tray pointer actions send, the
// tooltip and menu texts, and the order in which the loop hands events to its handler.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "event_queue.h"
#include "loop_dispatcher.h"
#include "tray_input.h"
#include "window_switch.h"

namespace zelk {
namespace {

std::string event_name(const UserEvent& event) {
  static const char* const names[] = {"MenuClicked", "PageMessage",   "RefreshTick",     "ShowWindow",
                                      "StatesRead",  "Resumed",       "ShelvesRead",     "UpdateChecked",
                                      "UpdateInstalled", "CommandDone", "CommandLine", "WebViewFailed"};
  std::string name = names[event.index()];
  if (const auto* clicked = std::get_if<MenuClicked>(&event)) name += "(" + clicked->id + ")";
  if (const auto* message = std::get_if<PageMessage>(&event)) name += "(" + message->text + ")";
  return name;
}

std::string event_names(const std::vector<UserEvent>& events) {
  std::string text;
  for (const UserEvent& event : events) text += (text.empty() ? "" : ",") + event_name(event);
  return text;
}

TEST(WindowSwitch, OnlyTheExactSwitchInAnyPlaceOpensTheWindow) {
  struct Case {
    std::vector<std::u16string> arguments;
    bool opens;
  };
  const std::u16string program = u"C:\\Program Files\\Zelk\\zelk-window.exe";
  const Case cases[] = {
      {{program}, false},
      {{program, u"--window"}, true},
      {{program, u"--Window"}, false},
      {{program, u"--WINDOW"}, false},
      {{program, u"--window=1"}, false},
      {{program, u"--window "}, false},
      {{program, u" --window"}, false},
      {{program, u"-window"}, false},
      {{program, u"/window"}, false},
      {{program, u"window"}, false},
      {{program, u""}, false},
      {{program, u"other", u"--window"}, true},
      {{program, u"--window", u"--window"}, true},
      // The program path is an argument like the others.
      {{u"--window"}, true},
      // An unpaired surrogate is not Unicode text and never matches.
      {{program, std::u16string(u"--window") + char16_t{0xD800}}, false},
      {{program, std::u16string(1, char16_t{0xDC00}) + u"--window"}, false},
      {{}, false},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& argument : c.arguments) {
      for (char16_t unit : argument) shown += unit < 0x80 ? static_cast<char>(unit) : '?';
      shown += " | ";
    }
    SCOPED_TRACE(shown);
    EXPECT_EQ(has_window_switch(c.arguments), c.opens);
  }
}

TEST(TrayInput, EachPointerActionSendsTheEventsOfTheTable) {
  struct Case {
    TrayPointer pointer;
    std::string sent;
  };
  const Case cases[] = {
      {TrayPointer::LeftUp, "ShowWindow,RefreshTick"},
      {TrayPointer::LeftDown, "RefreshTick"},
      {TrayPointer::RightDown, "RefreshTick"},
      {TrayPointer::RightUp, "RefreshTick"},
      {TrayPointer::MiddleDown, "RefreshTick"},
      {TrayPointer::MiddleUp, "RefreshTick"},
      {TrayPointer::Enter, "RefreshTick"},
      {TrayPointer::LeftDouble, ""},
      {TrayPointer::RightDouble, ""},
      {TrayPointer::MiddleDouble, ""},
      {TrayPointer::Move, ""},
      {TrayPointer::Leave, ""},
      {TrayPointer::KeySelect, "ShowWindow,RefreshTick"},
      {TrayPointer::Select, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.pointer));
    EXPECT_EQ(event_names(tray_events(c.pointer)), c.sent);
  }
}

TEST(TrayInput, ALeftPressCountsForTheReleaseOnlyWhileThePointerStaysOnTheIcon) {
  const ScreenBox icon{100, 200, 132, 232};
  LeftClickOnIcon click;
  // A press, the pointer still on the icon, then the release: a click; the choice that
  // follows it is no second one.
  click.pressed(icon);
  EXPECT_TRUE(click.pointer_at(ScreenPoint{131, 231}));
  EXPECT_EQ(click.released(), TrayPointer::LeftUp);
  EXPECT_EQ(click.selected(), TrayPointer::Select);
  // Dragged off the icon (released elsewhere, unseen): a later release on it is alone.
  click.pressed(icon);
  EXPECT_FALSE(click.pointer_at(ScreenPoint{132, 210}));
  EXPECT_FALSE(click.pointer_at(ScreenPoint{110, 210}));
  EXPECT_EQ(click.released(), TrayPointer::LeftUpAlone);
  // Another button's press or release in between: the same.
  click.pressed(icon);
  click.interrupted();
  EXPECT_EQ(click.released(), TrayPointer::LeftUpAlone);
  // A choice with no release before it is the keyboard's.
  EXPECT_EQ(click.selected(), TrayPointer::Select);
  EXPECT_EQ(click.selected(), TrayPointer::KeySelect);
}

TEST(TrayInput, TheFirstMoveAfterAQuietSecondIsThePointerComingOverTheIcon) {
  using namespace std::chrono_literals;
  PointerOverIcon pointer;
  const LoopClock::time_point start{};
  EXPECT_EQ(pointer.moved(start), TrayPointer::Enter);
  EXPECT_EQ(pointer.moved(start + 50ms), TrayPointer::Move);
  EXPECT_EQ(pointer.moved(start + 900ms), TrayPointer::Move);
  // Moves keep the pointer "over the icon" as long as they come within a second of each other.
  EXPECT_EQ(pointer.moved(start + 1800ms), TrayPointer::Move);
  EXPECT_EQ(pointer.moved(start + 2799ms), TrayPointer::Move);
  EXPECT_EQ(pointer.moved(start + 3799ms), TrayPointer::Enter);
  // A click shows the pointer is there: the move after it is no new arrival.
  pointer.touched(start + 10s);
  EXPECT_EQ(pointer.moved(start + 10s + 200ms), TrayPointer::Move);
  EXPECT_EQ(pointer.moved(start + 12s), TrayPointer::Enter);
}

TEST(TrayInput, TheTooltipIsCutAtACharacterBoundaryToWhatTheTrayHolds) {
  const std::string title = "Valdroven AI Zelk 0.2.0-alpha.15";
  // Short texts pass whole.
  EXPECT_EQ(tray_tooltip(title), u"Valdroven AI Zelk 0.2.0-alpha.15");
  EXPECT_EQ(tray_tooltip(""), u"");
  // Exactly 127 units fit; the 128th is cut.
  EXPECT_EQ(tray_tooltip(std::string(127, 'a')), std::u16string(127, u'a'));
  EXPECT_EQ(tray_tooltip(std::string(200, 'a')), std::u16string(127, u'a'));
  // A character outside the basic plane takes two units and is never split: with 126 units
  // used, it does not fit and the text ends before it.
  const std::string emoji = "\xF0\x9F\x98\x80";  // U+1F600
  EXPECT_EQ(tray_tooltip(std::string(126, 'a') + emoji + "b"), std::u16string(126, u'a'));
  EXPECT_EQ(tray_tooltip(std::string(125, 'a') + emoji + "b"),
            std::u16string(125, u'a') + u"\U0001F600");
  // Characters of the basic plane take one unit however many bytes they are in UTF-8.
  std::string accented;
  for (int i = 0; i < 130; ++i) accented += "\xC3\xA9";  // é
  EXPECT_EQ(tray_tooltip(accented), std::u16string(127, u'\u00E9'));
  // Bytes that are not UTF-8 read as U+FFFD.
  EXPECT_EQ(tray_tooltip("Gitea \xFF running"), u"Gitea \uFFFD running");
  // A long tooltip of running apps keeps whole names up to the cut.
  const std::string running = title + ": n8n, Gitea, Open WebUI, Ollama, " + std::string(100, 'x') + " running";
  const std::u16string cut = tray_tooltip(running);
  EXPECT_EQ(cut.size(), 127u);
  EXPECT_EQ(cut.substr(0, 68), u"Valdroven AI Zelk 0.2.0-alpha.15: n8n, Gitea, Open WebUI, Ollama, xx");
}

TEST(TrayInput, AnAmpersandInAMenuTextShowsAsItself) {
  EXPECT_EQ(menu_label("Open the Zelk"), "Open the Zelk");
  EXPECT_EQ(menu_label("Tom & Jerry  -  running"), "Tom && Jerry  -  running");
  EXPECT_EQ(menu_label("&&&"), "&&&&&&");
  EXPECT_EQ(menu_label("&"), "&&");
  EXPECT_EQ(menu_label(""), "");
}

// A handler that records what it was given and answers from a script of control flows.
struct Recorder {
  std::vector<std::string> seen;
  std::function<ControlFlow(const LoopEvent&)> answer = [](const LoopEvent&) { return ControlFlow::wait(); };

  LoopDispatcher::Handler handler() {
    return [this](LoopEvent event) {
      std::string name;
      if (std::holds_alternative<LoopStarted>(event)) name = "Start";
      if (std::holds_alternative<WindowCloseRequested>(event)) name = "Close";
      if (std::holds_alternative<WaitDeadlineReached>(event)) name = "Deadline";
      if (const auto* user = std::get_if<UserEvent>(&event)) name = event_name(*user);
      seen.push_back(name);
      return answer(event);
    };
  }
};

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
  return text;
}

TEST(LoopDispatcher, TheStartComesFirstAndThenEverythingInTheOrderItCame) {
  EventQueue queue([] {});
  Recorder recorder;
  std::vector<ControlFlow> flows;
  LoopDispatcher dispatcher(queue, recorder.handler(), [&](const ControlFlow& flow) { flows.push_back(flow); });
  queue.send(PageMessage{"early"});
  dispatcher.pump();  // not started: nothing yet
  EXPECT_TRUE(recorder.seen.empty());
  dispatcher.start();
  EXPECT_EQ(joined(recorder.seen), "Start,PageMessage(early)");
  EXPECT_EQ(flows.size(), 1u);  // told once for the run of two events
  queue.send(ShowWindow{});
  dispatcher.post(WindowCloseRequested{});
  dispatcher.post(WaitDeadlineReached{});
  EXPECT_EQ(joined(recorder.seen), "Start,PageMessage(early),ShowWindow,Close,Deadline");
}

TEST(LoopDispatcher, AnEventArrivingWhileOneIsHandledWaitsForItsEnd) {
  EventQueue queue([] {});
  Recorder recorder;
  LoopDispatcher* self = nullptr;
  recorder.answer = [&](const LoopEvent& event) {
    if (std::holds_alternative<LoopStarted>(event)) {
      // Something inside the handler lets the system deliver more: a close request and a
      // queued event. Neither may run inside this one.
      queue.send(RefreshTick{});
      self->post(WindowCloseRequested{});
      self->pump();
      recorder.seen.push_back("StartEnds");
    }
    return ControlFlow::wait();
  };
  LoopDispatcher dispatcher(queue, recorder.handler(), {});
  self = &dispatcher;
  dispatcher.start();
  EXPECT_EQ(joined(recorder.seen), "Start,StartEnds,RefreshTick,Close");
}

TEST(LoopDispatcher, WhileHeldNothingIsHandledAndReleaseHandlesItAllInOrder) {
  EventQueue queue([] {});
  Recorder recorder;
  LoopDispatcher dispatcher(queue, recorder.handler(), {});
  dispatcher.start();
  dispatcher.hold();
  for (int i = 0; i < 5; ++i) queue.send(PageMessage{std::to_string(i)});
  dispatcher.post(WaitDeadlineReached{});
  queue.send(MenuClicked{"refresh"});
  dispatcher.pump();
  EXPECT_EQ(joined(recorder.seen), "Start");
  dispatcher.release();
  EXPECT_EQ(joined(recorder.seen),
            "Start,PageMessage(0),PageMessage(1),PageMessage(2),PageMessage(3),PageMessage(4),Deadline,"
            "MenuClicked(refresh)");
}

TEST(LoopDispatcher, NothingIsHandledAfterTheHandlerEndsTheLoop) {
  EventQueue queue([] {});
  Recorder recorder;
  recorder.answer = [](const LoopEvent& event) {
    const auto* user = std::get_if<UserEvent>(&event);
    if (user != nullptr && std::holds_alternative<MenuClicked>(*user)) return ControlFlow::exit(0);
    return ControlFlow::wait();
  };
  std::vector<ControlFlow> flows;
  LoopDispatcher dispatcher(queue, recorder.handler(), [&](const ControlFlow& flow) { flows.push_back(flow); });
  queue.send(RefreshTick{});
  queue.send(MenuClicked{"quit"});
  queue.send(ShowWindow{});
  dispatcher.start();
  EXPECT_EQ(joined(recorder.seen), "Start,RefreshTick,MenuClicked(quit)");
  EXPECT_TRUE(dispatcher.ended());
  ASSERT_EQ(flows.size(), 1u);
  EXPECT_EQ(flows.back(), ControlFlow::exit(0));
  dispatcher.post(WindowCloseRequested{});
  dispatcher.pump();
  EXPECT_EQ(joined(recorder.seen), "Start,RefreshTick,MenuClicked(quit)");
}

TEST(LoopDispatcher, TheLastHandledEventDecidesHowTheLoopWaits) {
  EventQueue queue([] {});
  Recorder recorder;
  const auto at = LoopClock::time_point{} + std::chrono::seconds(10);
  recorder.answer = [&](const LoopEvent& event) {
    if (std::holds_alternative<WaitDeadlineReached>(event)) return ControlFlow::wait();
    return ControlFlow::wait_until(at);
  };
  std::vector<ControlFlow> flows;
  LoopDispatcher dispatcher(queue, recorder.handler(), [&](const ControlFlow& flow) { flows.push_back(flow); });
  dispatcher.start();
  queue.send(RefreshTick{});
  dispatcher.post(WaitDeadlineReached{});
  ASSERT_EQ(flows.size(), 2u);
  EXPECT_EQ(flows[0], ControlFlow::wait_until(at));
  EXPECT_EQ(flows[1], ControlFlow::wait());
  EXPECT_EQ(joined(recorder.seen), "Start,RefreshTick,Deadline");
}

}  // namespace
}  // namespace zelk
