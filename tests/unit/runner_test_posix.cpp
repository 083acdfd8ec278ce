#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <expected>
#include <cstdio>
#include <fstream>
#include <future>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "lines.h"
#include "platform.h"
#include "runner.h"
#include "runner_capture.h"
#include "scoped_env.h"
#include "scripts_posix.h"
#include "test_folder.h"

namespace zelk {
namespace {

using namespace std::chrono_literals;

constexpr auto generous = 20s;
// Long enough for a script to start and reach its first lines on a busy machine.
constexpr auto startup = 1s;

class RunnerTest : public ::testing::Test {
 protected:
  std::string script(std::string_view name, std::string_view body) {
    return write_script(folder.path(), name, body);
  }
  std::filesystem::path file(std::string_view name) const { return folder.path() / std::string(name); }

  // A program that writes to both streams and ends with 4, leaving behind a process of its own
  // that still holds its output.
  std::string program_that_leaves_a_helper() {
    return script("leaves-one",
                  "sleep 300 &\n"
                  "echo $! > '" + file("helper").string() + "'\n"
                  "echo done\n"
                  "echo noted >&2\n"
                  "exit 4");
  }
  // The process that program left behind, killed at the end of the test.
  pid_t helper_left_behind() {
    const pid_t helper = std::stoi(wait_for_text(file("helper")));
    leftovers.push_back(helper);
    return helper;
  }

  // Kills every process a test left running on purpose.
  void TearDown() override {
    for (pid_t pid : leftovers) ::kill(pid, SIGKILL);
  }

  TestFolder folder;
  SystemRunner runner;
  std::vector<pid_t> leftovers;
};

TEST_F(RunnerTest, CapturesBothStreamsAndTheExitCode) {
  const std::string program = script("both", "echo 'to output'\necho 'to errors' >&2\nexit 3");
  auto run = runner.run_captured(program, {}, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "to output\n");
  EXPECT_EQ(run->stderr_text, "to errors\n");
  EXPECT_EQ(run->exit_code, 3);
  EXPECT_FALSE(run->success());
}

TEST_F(RunnerTest, PassesEachArgumentAsOne) {
  const std::string program = script("args", R"(for a in "$@"; do printf '[%s]\n' "$a"; done)");
  const std::vector<std::string> args{"two words", "", R"(a"b)", R"(trailing\)", "grüße ✓", "$HOME"};
  auto run = runner.run_captured(program, args, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "[two words]\n[]\n[a\"b]\n[trailing\\]\n[grüße ✓]\n[$HOME]\n");
  EXPECT_TRUE(run->success());
}

TEST_F(RunnerTest, FindsABareNameOnPath) {
  script("zelk-runner-test-tool", "echo found");
  const std::string path = folder.path().string() + ":" + get_env("PATH").value_or("");
  ScopedEnv env("PATH", path);
  auto run = runner.run_captured("zelk-runner-test-tool", {}, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "found\n");
}

TEST_F(RunnerTest, EmptyOutputGivesEmptyTexts) {
  auto run = runner.run_captured(script("quiet", "exit 0"), {}, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "");
  EXPECT_EQ(run->stderr_text, "");
  EXPECT_TRUE(run->success());
}

TEST_F(RunnerTest, InvalidUtf8BecomesReplacementCharacters) {
  const std::string program = script("bytes", R"(printf '\377ok\342\202'; printf 'x\300\257y' >&2)");
  auto run = runner.run_captured(program, {}, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "\xEF\xBF\xBDok\xEF\xBF\xBD");
  EXPECT_EQ(run->stderr_text, "x\xEF\xBF\xBD\xEF\xBF\xBDy");
}

TEST_F(RunnerTest, ReadsLargeOutputOnBothStreamsWithoutBlocking) {
  const std::string program = script("large",
                                     "head -c 1000000 /dev/zero | tr '\\0' a\n"
                                     "head -c 700000 /dev/zero | tr '\\0' b >&2\n"
                                     "head -c 300000 /dev/zero | tr '\\0' c");
  auto run = runner.run_captured(program, {}, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, std::string(1000000, 'a') + std::string(300000, 'c'));
  EXPECT_EQ(run->stderr_text, std::string(700000, 'b'));
}

TEST_F(RunnerTest, StandardInputOfACapturedRunIsTheNullDevice) {
  auto run = runner.run_captured(script("input", "readlink /proc/$$/fd/0\ncat"), {}, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "/dev/null\n");
}

TEST_F(RunnerTest, AProgramEndedBySignalHasNoExitCode) {
  auto run = runner.run_captured(script("signalled", "echo before\nkill -9 $$"), {}, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "before\n");
  EXPECT_EQ(run->exit_code, std::nullopt);
  EXPECT_FALSE(run->success());
}

TEST_F(RunnerTest, AProgramStillRunningAtItsLimitIsKilled) {
  const std::string program = script("slow", "echo $$ > '" + file("pid").string() + "'\necho partial\nexec sleep 30");
  auto run = runner.run_captured(program, {}, startup);
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error(), RunError::timed_out());
  EXPECT_EQ(fmt_run_error(run.error()), "no answer in time");
  // The run waited for the end and collected it: no process of that id is left.
  const pid_t pid = std::stoi(read_text(file("pid")));
  EXPECT_FALSE(process_alive(pid));
}

TEST_F(RunnerTest, ALimitOfZeroStillStartsAndKills) {
  const std::string program = script("slow", "echo $$ > '" + file("pid").string() + "'\nexec sleep 30");
  auto run = runner.run_captured(program, {}, 0ns);
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error(), RunError::timed_out());
}

TEST_F(RunnerTest, ReturnsAtTheLimitWhileAProcessOfTheProgramHoldsThePipes) {
  const std::string program = script("parent",
                                     "sleep 30 &\n"
                                     "echo $! > '" + file("grandchild").string() + "'\n"
                                     "echo started\n"
                                     "exec sleep 30");
  auto run = runner.run_captured(program, {}, startup);
  const pid_t grandchild = std::stoi(wait_for_text(file("grandchild")));
  leftovers.push_back(grandchild);
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error(), RunError::timed_out());
  // Had the run waited for its pipes to close, this process would be gone by now.
  EXPECT_TRUE(process_alive(grandchild));
}

TEST_F(RunnerTest, AProgramThatEndedKeepsItsOutputWhileAProcessOfItsOwnHoldsThePipes) {
  auto run = runner.run_captured(program_that_leaves_a_helper(), {}, startup);
  const pid_t grandchild = helper_left_behind();
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "done\n");
  EXPECT_EQ(run->stderr_text, "noted\n");
  EXPECT_EQ(run->exit_code, 4);
  EXPECT_TRUE(process_alive(grandchild));
}

TEST_F(RunnerTest, ARunEndsWithItsProgramNotWithItsLimit) {
  // Each run has an hour: only a run that wakes when its program ends gets through these.
  const std::string program = script("quick", R"(printf '%s' "$1"; printf 'e' >&2; exit "$1")");
  for (int round = 0; round < 20; ++round) {
    auto run = runner.run_captured(program, {std::to_string(round)}, 1h);
    ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
    EXPECT_EQ(run->stdout_text, std::to_string(round));
    EXPECT_EQ(run->stderr_text, "e");
    EXPECT_EQ(run->exit_code, round);
  }
}

TEST_F(RunnerTest, AProcessOfTheProgramThatLetGoOfThePipesDoesNotHoldTheRun) {
  const std::string program = script("starts-one",
                                     "sleep 3600 </dev/null >/dev/null 2>&1 &\n"
                                     "echo $! > '" + file("grandchild").string() + "'\n"
                                     "echo done");
  auto run = runner.run_captured(program, {}, 1h);
  const pid_t grandchild = std::stoi(wait_for_text(file("grandchild")));
  leftovers.push_back(grandchild);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "done\n");
  EXPECT_EQ(run->exit_code, 0);
  EXPECT_TRUE(process_alive(grandchild));
}

TEST_F(RunnerTest, HandsEachLineOverWhileTheProgramStillRuns) {
  // The program ends only once it sees that its first line was heard, or after a long while.
  const std::string heard = file("heard").string();
  const std::string program = script("lines", "printf 'first\\r\\nsecond\\n'\n"
                                              "i=0\n"
                                              "while [ ! -e '" + heard + "' ] && [ $i -lt 300 ]; do\n"
                                              "  sleep 0.1; i=$((i + 1))\n"
                                              "done\n"
                                              "[ -e '" + heard + "' ] && printf 'heard in time'\n"
                                              "exit 0");
  std::vector<std::string> lines;
  const OutputLineFn each_line = [&](std::string_view line) {
    lines.emplace_back(line);
    if (line == "first") std::ofstream(heard).flush();
  };
  auto run = runner.run_captured_lines(program, {}, 1h, each_line);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "first\r\nsecond\nheard in time");
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "second", "heard in time"}));
}

TEST_F(RunnerTest, AnErrorTheLinesCallerThrowsComesBackToItOnItsOwnThread) {
  const std::string program = script("lines", "echo first\necho second\nexit 0");
  std::vector<std::string> lines;
  const OutputLineFn each_line = [&](std::string_view line) {
    lines.emplace_back(line);
    throw std::bad_alloc();
  };
  EXPECT_THROW(runner.run_captured_lines(program, {}, generous, each_line), std::bad_alloc);
  EXPECT_EQ(lines, std::vector<std::string>{"first"});  // no line after the error
}

void ignore_signal(int) {}

TEST_F(RunnerTest, SignalsThatInterruptTheWaitDoNotEndIt) {
  // A handler without SA_RESTART, so that every signal breaks off whatever the thread waits in.
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = ignore_signal;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  const std::string program = script("steady", "sleep 0.5\necho finished\necho noted >&2\nexit 5");
  std::atomic<bool> done{false};
  std::expected<RunOutput, RunError> run = std::unexpected(RunError::os("not run"));
  std::thread waiting([&] {
    run = runner.run_captured(program, {}, generous);
    done = true;
  });
  const pthread_t target = waiting.native_handle();
  int sent = 0;
  while (!done) {
    ::pthread_kill(target, SIGUSR1);
    ++sent;
    std::this_thread::sleep_for(2ms);
  }
  waiting.join();
  ::sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_GT(sent, 10);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "finished\n");
  EXPECT_EQ(run->stderr_text, "noted\n");
  EXPECT_EQ(run->exit_code, 5);
}

TEST_F(RunnerTest, RunsFromSeveralThreadsAtOnce) {
  const std::string program = script("echo-arg", R"(sleep 0.1; printf '%s' "$1"; printf 'e%s' "$1" >&2)");
  std::vector<std::string> outputs(6);
  std::vector<std::string> errors(6);
  std::vector<std::thread> threads;
  for (std::size_t index = 0; index < outputs.size(); ++index) {
    threads.emplace_back([&, index] {
      auto run = runner.run_captured(program, {std::to_string(index)}, generous);
      if (run) {
        outputs[index] = run->stdout_text;
        errors[index] = run->stderr_text;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (std::size_t index = 0; index < outputs.size(); ++index) {
    EXPECT_EQ(outputs[index], std::to_string(index));
    EXPECT_EQ(errors[index], "e" + std::to_string(index));
  }
}

TEST_F(RunnerTest, AMissingProgramIsNotFoundForBothKinds) {
  for (const std::string& program : {std::string("zelk-no-such-program"), file("missing").string()}) {
    auto captured = runner.run_captured(program, {"x"}, generous);
    ASSERT_FALSE(captured.has_value());
    EXPECT_EQ(fmt_run_error(captured.error()), "the program was not found");
    auto attached = runner.run_attached(program, {"x"}, {}, AttachMode::Output);
    ASSERT_FALSE(attached.has_value());
    EXPECT_EQ(fmt_run_error(attached.error()), "the program was not found");
  }
}

TEST_F(RunnerTest, AFileThatCannotBeRunIsAnOsError) {
  const std::filesystem::path plain = file("plain.txt");
  { std::ofstream(plain) << "not a program\n"; }
  auto run = runner.run_captured(plain.string(), {}, generous);
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error(), RunError::os("Permission denied (os error 13)"));
}

TEST(RunErrorFromIo, NoSuchFileIsNotFoundAndTheRestCarryTheSystemText) {
  EXPECT_EQ(run_error_from_io(ENOENT), RunError::not_found());
  EXPECT_EQ(run_error_from_io(EACCES), RunError::os("Permission denied (os error 13)"));
  EXPECT_EQ(os_error_text(ENOEXEC), "Exec format error (os error 8)");
}

TEST_F(RunnerTest, AttachedRunGivesTheExitCode) {
  auto run = runner.run_attached(script("seven", "exit 7"), {}, {}, AttachMode::Output);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->exit_code, 7);
  EXPECT_EQ(run->kept_output, std::nullopt);  // it went to the console
  auto ok = runner.run_attached(script("zero", "exit 0"), {}, {}, AttachMode::ErrorsOnly);
  ASSERT_TRUE(ok.has_value());
  EXPECT_EQ(ok->exit_code, 0);
}

TEST_F(RunnerTest, AttachedRunEndedBySignalHasNoExitCode) {
  auto run = runner.run_attached(script("signalled", "kill -9 $$"), {}, {}, AttachMode::Output);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->exit_code, std::nullopt);
}

// What each standard stream of an attached run is connected to, as the child sees it.
std::string own_stream(int fd) {
  std::error_code ignored;
  return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ignored).string();
}

// Where one standard stream of an attached run goes: the console's own, the null device, or
// the one pipe whose end a hidden run keeps.
enum class Goes { Console, Null, Kept };

struct ModeCase {
  AttachMode mode;
  bool hidden;
  Goes in, out, err;
};

TEST_F(RunnerTest, AttachModesConnectTheStreams) {
  const std::string program = script("streams",
                                     "streams=$(for fd in 0 1 2; do readlink /proc/$$/fd/$fd; done)\n"
                                     "printf '%s\\n' \"$streams\" > \"$1\"");
  const std::string console[] = {own_stream(0), own_stream(1), own_stream(2)};
  const ModeCase cases[] = {
      {AttachMode::Output, false, Goes::Null, Goes::Console, Goes::Console},
      {AttachMode::ErrorsOnly, false, Goes::Null, Goes::Null, Goes::Console},
      {AttachMode::Interactive, false, Goes::Console, Goes::Console, Goes::Console},
      {AttachMode::Output, true, Goes::Null, Goes::Kept, Goes::Kept},
      {AttachMode::ErrorsOnly, true, Goes::Null, Goes::Kept, Goes::Kept},
      {AttachMode::Interactive, true, Goes::Null, Goes::Kept, Goes::Kept},
  };
  for (const ModeCase& c : cases) {
    const SystemRunner attached_runner(c.hidden ? SystemRunner::hidden : 0);
    const std::filesystem::path report = file("report");
    std::filesystem::remove(report);
    auto run = attached_runner.run_attached(program, {report.string()}, {}, c.mode);
    ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
    EXPECT_EQ(run->exit_code, 0);
    const std::string label = "mode " + std::to_string(static_cast<int>(c.mode)) + (c.hidden ? " hidden" : "");
    const std::string text = read_text(report);
    const std::vector<std::string_view> streams = split_lines(text);
    ASSERT_EQ(streams.size(), 3u) << label;
    const Goes goes[] = {c.in, c.out, c.err};
    for (int fd = 0; fd < 3; ++fd) {
      switch (goes[fd]) {
        case Goes::Console: EXPECT_EQ(streams[fd], console[fd]) << label << " fd " << fd; break;
        case Goes::Null: EXPECT_EQ(streams[fd], "/dev/null") << label << " fd " << fd; break;
        case Goes::Kept:
          EXPECT_TRUE(streams[fd].starts_with("pipe:")) << label << " fd " << fd << ": " << streams[fd];
          EXPECT_EQ(streams[fd], streams[1]) << label << " fd " << fd;  // one pipe for both
          break;
      }
    }
  }
}

// Points this process's standard output and error at files for one scope, so that what an
// attached run writes to the console can be read back.
class ConsoleToFiles {
 public:
  ConsoleToFiles(const std::filesystem::path& out, const std::filesystem::path& err) {
    std::fflush(stdout);
    std::fflush(stderr);
    saved_out_ = ::dup(1);
    saved_err_ = ::dup(2);
    const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    ::close(out_fd);
    ::close(err_fd);
  }
  ~ConsoleToFiles() {
    ::dup2(saved_out_, 1);
    ::dup2(saved_err_, 2);
    ::close(saved_out_);
    ::close(saved_err_);
  }
  ConsoleToFiles(const ConsoleToFiles&) = delete;
  ConsoleToFiles& operator=(const ConsoleToFiles&) = delete;

 private:
  int saved_out_ = -1;
  int saved_err_ = -1;
};

struct WrittenCase {
  AttachMode mode;
  bool hidden;
  std::string out;
  std::string err;
};

TEST_F(RunnerTest, WhatAnAttachedRunWritesReachesTheConsoleByMode) {
  const std::string program = script("talk", "echo said; echo complained >&2; exit 2");
  const WrittenCase cases[] = {
      {AttachMode::Output, false, "said\n", "complained\n"},
      {AttachMode::ErrorsOnly, false, "", "complained\n"},
      {AttachMode::Interactive, false, "said\n", "complained\n"},
      {AttachMode::Output, true, "", ""},
      {AttachMode::Interactive, true, "", ""},
  };
  for (const WrittenCase& c : cases) {
    const SystemRunner attached_runner(c.hidden ? SystemRunner::hidden : 0);
    std::expected<AttachedRun, RunError> run;
    {
      const ConsoleToFiles redirect(file("out"), file("err"));
      run = attached_runner.run_attached(program, {}, {}, c.mode);
    }
    ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
    EXPECT_EQ(run->exit_code, 2);
    const std::string label = "mode " + std::to_string(static_cast<int>(c.mode)) + (c.hidden ? " hidden" : "");
    EXPECT_EQ(read_text(file("out")), c.out) << label;
    EXPECT_EQ(read_text(file("err")), c.err) << label;
  }
}

TEST_F(RunnerTest, AHiddenAttachedRunKeepsTheEndOfWhatItWrote) {
  const SystemRunner hidden_runner(SystemRunner::hidden);
  std::string last_thirteen;
  for (int i = 17; i < 30; ++i) last_thirteen += std::to_string(i) + std::string(297, 'x') + "\n";
  std::string last_eight;
  for (int i = 2; i < 10; ++i) last_eight += std::to_string(i) + std::string(510, 'z') + "\n";
  std::string last_twenty;
  for (int i = 980; i < 1000; ++i) last_twenty += "line " + std::to_string(i) + "\n";
  struct Case {
    std::string body;
    std::optional<std::int32_t> code;
    std::string kept;
  };
  const std::vector<Case> cases{
      {"echo one; echo two >&2; echo three; exit 3", 3, "one\ntwo\nthree\n"},
      {"exit 0", 0, ""},
      // The last 20 lines of a long output, from either stream.
      {"i=0; while [ $i -lt 1000 ]; do echo line $i; i=$((i+1)); done >&2; exit 1", 1, last_twenty},
      // Long lines: what lies within the last 4 KiB, from a line's start.
      {"i=0; while [ $i -lt 30 ]; do printf '%d' $i; printf '%0297d\\n' 0 | tr 0 x; i=$((i+1)); done; exit 1", 1,
       last_thirteen},
      // Lines of 512 bytes: the last 4 KiB begin at a line's start, so they are kept whole.
      {"i=0; while [ $i -lt 10 ]; do printf '%d' $i; printf '%0510d\\n' 0 | tr 0 z; i=$((i+1)); done; exit 1", 1,
       last_eight},
      // One line longer than 4 KiB: its end.
      {"head -c 10000 /dev/zero | tr '\\0' y; exit 2", 2, std::string(4096, 'y')},
      {"echo bye; kill -9 $$", std::nullopt, "bye\n"},
  };
  for (const Case& c : cases) {
    auto run = hidden_runner.run_attached(script("kept", c.body), {}, {}, AttachMode::ErrorsOnly);
    ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
    EXPECT_EQ(run->exit_code, c.code) << c.body;
    EXPECT_EQ(run->kept_output, c.kept) << c.body;
  }
}

TEST_F(RunnerTest, AHiddenAttachedRunKeepsWhatItsProgramWroteRightBeforeItEnded) {
  // A program that writes and ends at once has often ended before the run has read what it
  // wrote: what is still in the pipe then is read too. Many rounds, since which comes first
  // varies from run to run.
  const SystemRunner hidden_runner(SystemRunner::hidden);
  std::size_t lost = 0;
  for (int round = 0; round < 1000; ++round) {
    auto run = hidden_runner.run_attached("echo", {"round " + std::to_string(round)}, {}, AttachMode::ErrorsOnly);
    ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
    if (run->kept_output != "round " + std::to_string(round) + "\n") ++lost;
  }
  EXPECT_EQ(lost, 0u);
}

// The threads of this process.
std::size_t thread_count() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

TEST_F(RunnerTest, AHiddenAttachedRunEndsWithItsProgramWhileAProcessOfItsOwnHoldsTheOutput) {
  const SystemRunner hidden_runner(SystemRunner::hidden);
  const std::string program = program_that_leaves_a_helper();
  // The run goes on a thread of its own, so that one waiting for the helper fails here rather
  // than holding the test for as long as the helper lives. Both counts are taken on that thread
  // (a sanitizer's own thread may come with the first thread the test starts).
  std::size_t threads_before = 0;
  std::size_t threads_after = 0;
  auto running = std::async(std::launch::async, [&] {
    threads_before = thread_count();
    auto result = hidden_runner.run_attached(program, {}, {}, AttachMode::ErrorsOnly);
    threads_after = thread_count();
    return result;
  });
  const bool ended = running.wait_for(generous) == std::future_status::ready;
  const pid_t helper = helper_left_behind();
  const bool helper_runs = process_alive(helper);
  if (!ended) ::kill(helper, SIGKILL);  // the run waits on the helper's end of the pipe
  auto run = running.get();
  ASSERT_TRUE(ended) << "the run waited for the process its program left behind";
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->exit_code, 4);
  EXPECT_EQ(run->kept_output, "done\nnoted\n");
  // Nothing is left reading the output that the helper still holds.
  EXPECT_LE(threads_after, threads_before);
  EXPECT_TRUE(helper_runs);
}

TEST_F(RunnerTest, EnvironmentPairsReplaceInheritedVariables) {
  const ScopedEnv a("ZELK_RUNNER_TEST_A", "inherited");
  const ScopedEnv c("ZELK_RUNNER_TEST_C", "kept");
  const ScopedEnv lower("zelk_runner_test_a", std::nullopt);
  const std::string program = script("env",
                                     "{ printf '%s|%s|%s|%s\\n' \"$ZELK_RUNNER_TEST_A\" "
                                     "\"$ZELK_RUNNER_TEST_B\" \"$ZELK_RUNNER_TEST_C\" \"$zelk_runner_test_a\"\n"
                                     "  env | grep -c '^ZELK_RUNNER_TEST_A='; } > \"$1\"");
  const EnvPairs pairs{{"ZELK_RUNNER_TEST_A", "first"},
                       {"ZELK_RUNNER_TEST_B", "b=with equals"},
                       {"ZELK_RUNNER_TEST_A", "second"}};
  auto run = runner.run_attached(program, {file("report").string()}, pairs, AttachMode::Output);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(read_text(file("report")), "second|b=with equals|kept|\n1\n");

  // Names are compared exactly here: another case is another variable.
  auto other_case = runner.run_attached(program, {file("report").string()},
                                        {{"zelk_runner_test_a", "lower"}}, AttachMode::Output);
  ASSERT_TRUE(other_case.has_value());
  EXPECT_EQ(read_text(file("report")), "inherited||kept|lower\n1\n");
}

// What the heap holds now, in small blocks and in blocks of their own.
std::size_t heap_in_use() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// A hidden run's pipe and process played by the test: a program that writes many lines of a
// mebibyte each, then its last line, and ends with 1. It notes how much the heap held at most.
class ManyMebibytes final : public capture::WatchedOutput {
 public:
  explicit ManyMebibytes(std::size_t lines) : left_(lines) {}
  std::expected<News, RunError> wait() override {
    peak_ = std::max(peak_, heap_in_use());
    News news;
    if (left_ == 0) {
      news.bytes = "the last line\n";
      news.ended = std::optional<std::int32_t>(1);
      return news;
    }
    --left_;
    news.bytes = line_;
    return news;
  }
  std::size_t peak() const { return peak_; }

 private:
  std::size_t left_;
  std::size_t peak_ = 0;
  const std::string line_ = std::string((1 << 20) - 1, 'x') + "\n";
};

TEST(KeptRun, HoldsOnlyTheEndOfWhatTheProgramWritesWhileItRuns) {
  ManyMebibytes program(256);
  const std::size_t before = heap_in_use();
  auto run = capture::finish_kept_run(program);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->exit_code, std::optional<std::int32_t>(1));
  EXPECT_EQ(run->kept_output, "the last line\n");
  // 256 MiB went through; the heap held a few of them at most.
  EXPECT_LT(program.peak(), before + (16u << 20));
}

}  // namespace
}  // namespace zelk
