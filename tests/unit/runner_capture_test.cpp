// The rules of a captured run that hold on every platform, against a process and pipes
// played by the test: the run waits on the process itself with the run's deadline, keeps the
// output of a program that has ended, kills one that still runs at the deadline, and reads the
// pipes until they close but not past the deadline or one second after the end.

#include "runner_capture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelk::capture {
namespace {

using namespace std::chrono_literals;

using State = std::expected<std::optional<std::optional<std::int32_t>>, RunError>;

State running() { return std::optional<std::optional<std::int32_t>>(); }
State ended(std::optional<std::int32_t> code) { return std::optional<std::optional<std::int32_t>>(code); }

// A flag one thread raises and others wait for; shared, so a reader the run leaves behind can
// still reach it after the test's own objects are gone.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;

  void raise() {
    {
      const std::lock_guard lock(mutex);
      open = true;
    }
    changed.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return open; });
  }
  bool wait_until(Clock::time_point deadline) {
    std::unique_lock lock(mutex);
    return changed.wait_until(lock, deadline, [this] { return open; });
  }
};

// A pipe that gives its pieces in order and then the end of the stream. A piece may first wait
// for a gate, as a pipe waits for its writer.
class ScriptedPipe final : public PipeSource {
 public:
  struct Piece {
    std::string bytes;
    std::shared_ptr<Gate> after;  // wait for this before giving the piece; none: at once
  };
  explicit ScriptedPipe(std::vector<Piece> pieces, std::shared_ptr<Gate> closed = nullptr)
      : pieces_(pieces.begin(), pieces.end()), closed_(std::move(closed)) {}
  // Its reader is done with it: raises `closed`, if given.
  ~ScriptedPipe() override {
    if (closed_) closed_->raise();
  }

  std::size_t read(char* buffer, std::size_t size) override {
    if (pieces_.empty()) return 0;
    Piece piece = std::move(pieces_.front());
    pieces_.pop_front();
    if (piece.after) piece.after->wait();
    if (piece.bytes.empty()) return 0;
    const std::size_t n = std::min(size, piece.bytes.size());
    piece.bytes.copy(buffer, n);
    if (n < piece.bytes.size()) pieces_.push_front({piece.bytes.substr(n), nullptr});
    return n;
  }

 private:
  std::deque<Piece> pieces_;
  std::shared_ptr<Gate> closed_;
};

std::unique_ptr<PipeSource> pipe_of(std::string text) {
  return std::make_unique<ScriptedPipe>(std::vector<ScriptedPipe::Piece>{{std::move(text), nullptr}});
}

// A process played by the test. Each wait answers from the script, one answer per wait, the
// last one for every wait after it; an answer of "running" waits until the deadline when
// `block_until_deadline` is set, as a real process that does not end does. An end can also
// come from the test thread through `end_now`.
class ScriptedChild final : public ChildProcess {
 public:
  explicit ScriptedChild(std::vector<State> answers, bool block_until_deadline = false)
      : answers_(std::move(answers)), block_(block_until_deadline) {}

  State wait_until(Clock::time_point deadline) override {
    std::unique_lock lock(mutex_);
    deadlines.push_back(deadline);
    waiting_ = true;
    changed_.notify_all();
    const std::size_t index = std::min(deadlines.size(), answers_.size()) - 1;
    State answer = answers_[index];
    if (block_ && answer && !*answer) {
      changed_.wait_until(lock, deadline, [this] { return end_.has_value(); });
    }
    if (end_) answer = ended(*end_);
    waiting_ = false;
    if (answer && *answer) ended_gate->raise();
    return answer;
  }

  void terminate_and_wait() override {
    const std::lock_guard lock(mutex_);
    killed_at.push_back(Clock::now());
  }

  // Ends the process once the run waits on it.
  void end_now(std::optional<std::int32_t> code) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return waiting_; });
    end_ = code;
    changed_.notify_all();
  }

  std::vector<Clock::time_point> deadlines;  // the deadline of every wait, in order
  std::vector<Clock::time_point> killed_at;  // when the process was killed
  std::shared_ptr<Gate> ended_gate = std::make_shared<Gate>();  // raised when an end is reported

 private:
  std::vector<State> answers_;
  bool block_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool waiting_ = false;
  std::optional<std::optional<std::int32_t>> end_;
};

TEST(CapturedRun, SleepsOnTheProcessItselfUntilItEndsWithTheRunsDeadline) {
  ScriptedChild child({running()}, true);
  std::thread ender([&] { child.end_now(7); });
  const Clock::time_point before = Clock::now();
  auto run = finish_captured_run(child, pipe_of("out"), pipe_of("err"), 1h);
  const Clock::time_point after = Clock::now();
  ender.join();
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "out");
  EXPECT_EQ(run->stderr_text, "err");
  EXPECT_EQ(run->exit_code, 7);
  // One wait that the end cut short: no looking again in steps while the program ran.
  ASSERT_EQ(child.deadlines.size(), 1u);
  EXPECT_GE(child.deadlines[0], before + 1h);
  EXPECT_LE(child.deadlines[0], after + 1h);
  EXPECT_TRUE(child.killed_at.empty());
}

TEST(CapturedRun, AWaitThatEndsBeforeTheDeadlineIsMadeAgainWithTheSameDeadline) {
  ScriptedChild child({running(), running(), ended(std::nullopt)});
  auto run = finish_captured_run(child, pipe_of(""), pipe_of(""), 1h);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->exit_code, std::nullopt);
  ASSERT_EQ(child.deadlines.size(), 3u);
  EXPECT_EQ(child.deadlines[1], child.deadlines[0]);
  EXPECT_EQ(child.deadlines[2], child.deadlines[0]);
  EXPECT_TRUE(child.killed_at.empty());
}

TEST(CapturedRun, AProgramStillRunningAtTheDeadlineIsKilledThenAndGivesNoOutput) {
  ScriptedChild child({running()}, true);
  auto run = finish_captured_run(child, pipe_of("partial"), pipe_of(""), 50ms);
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error(), RunError::timed_out());
  ASSERT_EQ(child.killed_at.size(), 1u);
  ASSERT_FALSE(child.deadlines.empty());
  EXPECT_GE(child.killed_at[0], child.deadlines.back());
}

struct LimitZeroCase {
  const char* name;
  State state;
  bool timed_out;
};

TEST(CapturedRun, ALimitOfZeroLooksOnceBeforeItKills) {
  const LimitZeroCase cases[] = {
      {"ended", ended(0), false},
      {"still running", running(), true},
  };
  for (const LimitZeroCase& c : cases) {
    ScriptedChild child({c.state});
    const Clock::time_point before = Clock::now();
    auto run = finish_captured_run(child, pipe_of("said"), pipe_of(""), 0ns);
    ASSERT_EQ(child.deadlines.size(), 1u) << c.name;
    EXPECT_LE(child.deadlines[0], Clock::now()) << c.name;
    EXPECT_GE(child.deadlines[0], before) << c.name;
    EXPECT_EQ(run.has_value(), !c.timed_out) << c.name;
    EXPECT_EQ(child.killed_at.size(), c.timed_out ? 1u : 0u) << c.name;
    if (run) {
      EXPECT_EQ(run->stdout_text, "said") << c.name;
    }
  }
}

TEST(CapturedRun, AFailedLookAtTheProcessIsTheSystemsTextAndKillsNothing) {
  ScriptedChild child({State(std::unexpected(RunError::os("Access is denied. (os error 5)")))});
  auto run = finish_captured_run(child, pipe_of("x"), pipe_of("y"), 1h);
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error(), RunError::os("Access is denied. (os error 5)"));
  EXPECT_TRUE(child.killed_at.empty());
}

TEST(CapturedRun, OutputThatArrivesAfterTheEndIsReadUntilThePipesClose) {
  ScriptedChild child({ended(0)});
  auto output = std::make_unique<ScriptedPipe>(
      std::vector<ScriptedPipe::Piece>{{"before ", nullptr}, {"after the end", child.ended_gate}});
  auto errors = std::make_unique<ScriptedPipe>(std::vector<ScriptedPipe::Piece>{{"late", child.ended_gate}});
  auto run = finish_captured_run(child, std::move(output), std::move(errors), 1h);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "before after the end");
  EXPECT_EQ(run->stderr_text, "late");
}

TEST(CapturedRun, PipesHeldOpenAfterTheEndAreReadForOneSecondAtMost) {
  // A process the program left behind holds both pipes: the run returns what came before it,
  // once the second after the end has passed (the deadline itself passed long ago).
  auto held = std::make_shared<Gate>();
  ScriptedChild child({ended(4)});
  auto output = std::make_unique<ScriptedPipe>(
      std::vector<ScriptedPipe::Piece>{{"done\n", nullptr}, {"too late\n", held}});
  auto errors = std::make_unique<ScriptedPipe>(std::vector<ScriptedPipe::Piece>{{"noted\n", nullptr}, {"", held}});
  const Clock::time_point before = Clock::now();
  auto run = finish_captured_run(child, std::move(output), std::move(errors), 0ns);
  const Clock::time_point after = Clock::now();
  held->raise();  // lets the readers the run left behind end
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "done\n");
  EXPECT_EQ(run->stderr_text, "noted\n");
  EXPECT_EQ(run->exit_code, 4);
  EXPECT_GE(after - before, reader_grace);
}

TEST(CapturedRun, PipesHeldOpenAreReadUntilTheDeadlineWhenThatIsLater) {
  auto held = std::make_shared<Gate>();
  auto reached = std::make_shared<Gate>();
  ScriptedChild child({ended(0)});
  // The held pipe gives more while the run still waits on it: a second before its deadline of
  // three, the run must still be reading.
  auto output = std::make_unique<ScriptedPipe>(
      std::vector<ScriptedPipe::Piece>{{"first ", nullptr}, {"second", reached}, {"never", held}});
  std::thread writer([&] {
    std::this_thread::sleep_for(1500ms);
    reached->raise();
  });
  auto run = finish_captured_run(child, std::move(output), pipe_of(""), 3s);
  writer.join();
  held->raise();
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "first second");
}

TEST(CapturedRun, NoLineReachesTheCallerAfterTheRunHasReturned) {
  // The program is killed at its limit while a process of its own still holds the output pipe
  // and writes a line into it once the run has returned.
  auto released = std::make_shared<Gate>();
  auto closed = std::make_shared<Gate>();
  ScriptedChild child({running()}, true);
  auto output = std::make_unique<ScriptedPipe>(
      std::vector<ScriptedPipe::Piece>{{"first\n", nullptr}, {"late\n", released}}, closed);
  std::mutex mutex;
  bool returned = false;
  std::vector<std::string> heard_after;
  const OutputLineFn each_line = [&](std::string_view line) {
    const std::lock_guard lock(mutex);
    if (returned) heard_after.emplace_back(line);
  };
  auto run = finish_captured_run(child, std::move(output), pipe_of(""), 50ms, &each_line);
  {
    const std::lock_guard lock(mutex);
    returned = true;
  }
  released->raise();
  closed->wait();  // the reader has read "late" and the end of the pipe
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error(), RunError::timed_out());
  const std::lock_guard lock(mutex);
  EXPECT_EQ(heard_after, std::vector<std::string>{});
}

}  // namespace
}  // namespace zelk::capture
