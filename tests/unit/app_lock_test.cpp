// One command at a time on one app, with the real lock: a command on another thread, and one
// in another process, hold it; the command that comes second waits, says so once, and runs once
// the first has ended; "list" never waits; a start holds its app and the app it starts first.

#include "app_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "apps_run.h"
#include "child_programs.h"
#include "envfile.h"
#include "files.h"
#include "platform.h"
#include "test_context.h"
#include "test_folder.h"
#include "test_recipes.h"
#include "zelk/commands.h"

namespace zelk {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Waits, a bounded number of times, until the condition holds.
bool eventually(const std::function<bool()>& condition) {
  for (int attempt = 0; attempt < 12000; ++attempt) {
    if (condition()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return condition();
}

const char* const solo_waits = "Waiting for another Zelk command on Solo to end ...\n";

struct OneCommandPerApp : ::testing::Test {
  TestFolder folder;
  fs::path home = folder.path() / "data";
  std::vector<Recipe> recipes{read_test_recipe(solo_recipe_text), read_test_recipe(user_recipe_text("true"))};

  // A context on the same data folder whose waits are real and counted.
  std::unique_ptr<TestContext> command(std::atomic<int>& waits, const std::string& containers) {
    auto fake = std::make_unique<TestContext>(home, recipes);
    fake->runner.on("podman", {"ps"}, ScriptedRunner::ok(containers));
    fake->runner.on("podman", {"stop"}, ScriptedRunner::ok());
    fake->sleep = [&waits](std::chrono::nanoseconds duration) {
      ++waits;
      std::this_thread::sleep_for(duration);
    };
    return fake;
  }
};

TEST_F(OneCommandPerApp, ASecondCommandWaitsSaysSoOnceAndRunsOnceTheFirstHasEnded) {
  std::atomic<int> no_waits{0};
  std::atomic<int> waits{0};
  auto first = command(no_waits, "torvo-solo\trunning\t\n");
  auto second = command(waits, "torvo-solo\texited\t\n");
  first->runner.hold("podman", {"stop"});

  CommandResult first_result, second_result;
  std::thread one([&] {
    CommandContext ctx = first->context();
    first_result = run_command(ctx, {"stop", "solo"});
  });
  ASSERT_TRUE(eventually([&] { return first->runner.held_runs() == 1; }));
  std::thread two([&] {
    CommandContext ctx = second->context();
    second_result = run_command(ctx, {"stop", "solo"});
  });
  // Two tries are enough to show that the line comes once.
  const bool waited = eventually([&] { return waits >= 2; });
  EXPECT_TRUE(waited);
  EXPECT_TRUE(second->runner.runs().empty()) << "the second command read the containers while the first ran";

  // "list" reads while a command runs (were it to wait, its first wait would end it).
  std::atomic<int> list_waits{0};
  auto lister = command(list_waits, "torvo-solo\trunning\t\n");
  const InterruptWatch after_a_wait{.watch = [] {}, .requested = [&list_waits] { return list_waits > 0; }};
  CommandContext listing = lister->context();
  listing.interrupts = &after_a_wait;
  EXPECT_TRUE(run_command(listing, {"list"}));
  EXPECT_EQ(lister->output.text,
            "APP          STATE          ADDRESS\n"
            "solo         starting       http://127.0.0.1:40123/app\n"
            "user         not installed  http://127.0.0.1:40300/\n");
  EXPECT_EQ(list_waits, 0);

  // The user's Ctrl-C ends a wait, and nothing is done.
  std::atomic<int> stopped_waits{0};
  auto stopped = command(stopped_waits, "torvo-solo\trunning\t\n");
  const InterruptWatch asked{.watch = [] {}, .requested = [] { return true; }};
  CommandContext stopped_ctx = stopped->context();
  stopped_ctx.interrupts = &asked;
  const CommandResult given_up = run_command(stopped_ctx, {"stop", "solo"});
  ASSERT_FALSE(given_up);
  EXPECT_EQ(given_up.error(), "The wait for the other Zelk command on Solo was stopped. Nothing was changed.");
  EXPECT_EQ(stopped->output.text, solo_waits);
  EXPECT_TRUE(stopped->runner.runs().empty());

  first->runner.release_held();
  one.join();
  two.join();
  ASSERT_TRUE(waited);
  EXPECT_TRUE(first_result) << first_result.error();
  EXPECT_EQ(first->output.text, "Solo is stopped.\n");
  EXPECT_TRUE(second_result) << second_result.error();
  EXPECT_EQ(second->output.text, std::string(solo_waits) + "Solo is already stopped.\n");
}

TEST_F(OneCommandPerApp, ALockHeldByAnotherProcessIsWaitedForAndFreeOnceThatProcessIsKilled) {
  const fs::path held = folder.path() / "held";
  const fs::path end = folder.path() / "end";
  SystemRunner runner(0);
  std::expected<RunOutput, RunError> holder_ran = std::unexpected(RunError::not_found());
  std::thread holder([&] {
    holder_ran = runner.run_captured(helper_program("lock_holder"),
                                     {path_to_utf8(home), "solo", path_to_utf8(held), path_to_utf8(end)}, 120s);
  });
  const bool holds = eventually([&] { return fs::exists(held); });

  std::atomic<int> waits{0};
  auto waiting = command(waits, "torvo-solo\trunning\t\n");
  // At its first wait the command has its line out: then the holder is killed.
  waiting->sleep = [&](std::chrono::nanoseconds duration) {
    if (waits++ == 0) {
      EXPECT_TRUE(write_file_atomically(end, ""));
    }
    std::this_thread::sleep_for(duration);
  };
  CommandResult result;
  if (holds) {
    CommandContext ctx = waiting->context();
    result = run_command(ctx, {"stop", "solo"});
  }
  (void)write_file_atomically(end, "");  // whatever happened, the holder does not wait for ever
  holder.join();
  ASSERT_TRUE(holds) << (holder_ran ? holder_ran->stderr_text : fmt_run_error(holder_ran.error()));
  ASSERT_TRUE(holder_ran) << fmt_run_error(holder_ran.error());
  EXPECT_NE(holder_ran->exit_code, std::optional<std::int32_t>(0));  // killed, it let go of nothing itself
  EXPECT_TRUE(result) << result.error();
  EXPECT_EQ(waiting->output.text, std::string(solo_waits) + "Solo is stopped.\n");
  EXPECT_GE(waits, 1);
}

TEST_F(OneCommandPerApp, AStartHoldsItsAppAndTheAppItStartsFirstWithoutWaitingOnItself) {
  const Recipe& solo = recipes[0];
  const Recipe& user = recipes[1];
  const std::string solo_settings = "TORVO_PORT=40123\nSOLO_KEY=a\nSOLO_TOKEN=b\n";
  const std::string user_settings = "TORVO_PORT=40300\n";
  ASSERT_TRUE(write_settings(home, "solo", solo_settings));
  ASSERT_TRUE(write_settings(home, "user", user_settings));
  const std::string solo_hash =
      as_started(run_arguments(app_run_plan(solo), solo, 40123, solo_settings).value(), home).recipe_hash;
  const std::string user_hash =
      as_started(run_arguments(app_run_plan(user), user, 40300, user_settings).value(), home).recipe_hash;
  std::atomic<int> waits{0};
  auto start = command(waits, "torvo-solo\texited\ttorvo.recipe=" + solo_hash + "\ntorvo-user\texited\t"
                              "torvo.recipe=" + user_hash + "\n");
  start->runner.on("podman", {"start"}, ScriptedRunner::ok());
  start->runner.hold("podman", {"start", "torvo-solo"});
  start->probe_answer = [](std::uint16_t, std::string_view) { return std::optional<std::uint16_t>(200); };

  CommandResult result;
  std::thread starting([&] {
    CommandContext ctx = start->context();
    result = run_command(ctx, {"start", "user"});
  });
  const bool solo_starts = eventually([&] { return start->runner.held_runs() == 1; });
  auto solo_lock = try_lock_app(home, "solo");
  auto user_lock = try_lock_app(home, "user");
  start->runner.release_held();
  starting.join();
  ASSERT_TRUE(solo_starts);
  ASSERT_TRUE(solo_lock && user_lock);
  EXPECT_FALSE(solo_lock->has_value()) << "Solo was not locked while User's start started it";
  EXPECT_FALSE(user_lock->has_value()) << "User was not locked while its start ran";
  EXPECT_TRUE(result) << result.error();
  EXPECT_EQ(start->output.text,
            "User uses Solo. Starting Solo first ...\n"
            "Starting Solo with Podman ...\n"
            "Waiting for Solo to answer on port 40123 ...\n"
            "Solo is ready: http://127.0.0.1:40123/app\n"
            "User uses the app \"ghost\", which is not on this Zelk. It starts without it.\n"
            "Starting User with Podman ...\n"
            "Waiting for User to answer on port 40300 ...\n"
            "User is ready: http://127.0.0.1:40300/\n");
  EXPECT_EQ(waits, 0);
  // Both are free again once the start has ended.
  auto solo_after = try_lock_app(home, "solo");
  auto user_after = try_lock_app(home, "user");
  ASSERT_TRUE(solo_after && user_after);
  EXPECT_TRUE(solo_after->has_value() && user_after->has_value());
}

}  // namespace
}  // namespace zelk
