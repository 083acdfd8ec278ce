// The loop on the system's message loop: the wake-up message carries every event from any
// thread, a WaitUntil deadline comes back as WaitDeadlineReached, and an exit ends the loop
// with its code after the exit action (the program's takes the tray icon away).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "shell_harness_win.h"
#include "tray_win.h"

namespace zelk {
namespace {

using namespace std::chrono_literals;

bool is_page_message(const LoopEvent& event, const std::string& text) {
  const auto* user = std::get_if<UserEvent>(&event);
  if (user == nullptr) return false;
  const auto* message = std::get_if<PageMessage>(user);
  return message != nullptr && message->text == text;
}

TEST(LoopWin, EventsFromManyThreadsAllArriveInEachSendersOrder) {
  ShellHarness harness;
  constexpr int senders = 8;
  constexpr int per_sender = 2500;
  harness.run([&] {
    std::vector<std::thread> threads;
    for (int sender = 0; sender < senders; ++sender) {
      threads.emplace_back([&harness, sender] {
        for (int index = 0; index < per_sender; ++index) {
          harness.proxy()->send(PageMessage{std::to_string(sender) + ":" + std::to_string(index)});
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    harness.settle();
  });
  std::map<int, int> next;
  int received = 0;
  for (const std::string& name : harness.seen()) {
    if (name.rfind("PageMessage(", 0) != 0 || name.find(':') == std::string::npos) continue;
    const std::string text = name.substr(12, name.size() - 13);
    const int sender = std::stoi(text.substr(0, text.find(':')));
    const int index = std::stoi(text.substr(text.find(':') + 1));
    ASSERT_EQ(index, next[sender]) << text;
    ++next[sender];
    ++received;
  }
  EXPECT_EQ(received, senders * per_sender);
}

TEST(LoopWin, AWaitUntilDeadlineComesBackAndALaterWaitCancelsIt) {
  ShellHarness harness;
  LoopClock::time_point asked{};
  LoopClock::time_point reached{};
  harness.run(
      [&] {
        harness.proxy()->send(PageMessage{"soon"});
        ASSERT_TRUE(harness.wait_for_event("Deadline", 10s));
        // A deadline set and then replaced by a plain wait never comes.
        harness.proxy()->send(PageMessage{"then"});
        harness.proxy()->send(PageMessage{"no deadline"});
        std::this_thread::sleep_for(800ms);
        harness.settle();
      },
      [&](const LoopEvent& event, WinShell&) {
        if (is_page_message(event, "soon")) {
          asked = LoopClock::now();
          return ControlFlow::wait_until(asked + 300ms);
        }
        if (std::holds_alternative<WaitDeadlineReached>(event) && reached == LoopClock::time_point{}) {
          reached = LoopClock::now();
        }
        if (is_page_message(event, "then")) return ControlFlow::wait_until(LoopClock::now() + 300ms);
        return ControlFlow::wait();
      });
  const std::vector<std::string> seen = harness.seen();
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "Deadline"), 1);
  // Not before the deadline.
  EXPECT_GE(reached - asked, 300ms);
}

TEST(LoopWin, AnExitEndsTheLoopWithItsCodeAfterTheExitActionTookTheIconAway) {
  MessageLoop loop;
  auto web = std::make_shared<FakeWebViewLog>();
  WinShell shell(loop, {.page = "", .make_web_view = fake_web_view_factory(web)});
  const HWND hidden = loop.hidden_window();
  std::vector<std::string> seen;
  std::optional<int> exit_action_code;
  bool icon_at_exit = false;
  std::thread worker;
  const int code = loop.run(
      [&](LoopEvent event) {
        seen.push_back(loop_event_name(event));
        if (std::holds_alternative<LoopStarted>(event)) {
          EXPECT_TRUE(shell.add_tray_icon("Valdroven AI Zelk 0.2.0-alpha.15", TrayMenu{}).has_value());
          (void)shell.open_window();
          // A worker still busy when the loop ends.
          worker = std::thread([proxy = loop.proxy()] {
            std::this_thread::sleep_for(1500ms);
            proxy->send(CommandLine{"too late", nullptr});
          });
          loop.proxy()->send(MenuClicked{"quit"});
          loop.proxy()->send(ShowWindow{});
          return ControlFlow::wait();
        }
        const auto& user = std::get<UserEvent>(event);
        if (std::holds_alternative<MenuClicked>(user)) return ControlFlow::exit(3);
        return ControlFlow::wait();
      },
      [&](int exit_code) {
        icon_at_exit = tray_icon_present(hidden, Tray::icon_id);
        exit_action_code = exit_code;
        shell.remove_tray_icon();
      });
  EXPECT_EQ(code, 3);
  EXPECT_EQ(exit_action_code, std::optional<int>(3));
  EXPECT_TRUE(icon_at_exit);
  EXPECT_FALSE(tray_icon_present(hidden, Tray::icon_id));
  // Nothing after the exit is handled: not what was queued behind it, not what the worker sends.
  worker.join();
  EXPECT_EQ(seen, (std::vector<std::string>{"Start", "MenuClicked(quit)"}));
}

}  // namespace
}  // namespace zelk
