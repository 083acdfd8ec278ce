#include <windows.h>
#include <gtest/gtest.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "child_programs.h"
#include "file_text.h"
#include "platform.h"
#include "processes_win.h"
#include "runner.h"
#include "scoped_env.h"
#include "test_folder.h"
#include "std_handle_kind_win.h"
#include "wide_win.h"

namespace zelk {
namespace {

using namespace std::chrono_literals;

constexpr auto generous = 30s;
// Long enough for a helper to start and start its own child under a busy Wine.
constexpr auto startup = 5s;

const std::vector<std::string> tricky_arguments{
    "plain",
    "",
    "two words",
    "tab\there",
    R"(say "hi")",
    R"(")",
    R"("")",
    R"(C:\dir\)",
    R"(C:\Program Files\)",
    R"(C:\Program Files\\)",
    R"(a\"b)",
    R"(a\\"b c)",
    R"(a\\b c)",
    R"(\\server\share name\)",
    "url.dll,FileProtocolHandler",
    "grüße ✓",
    "--format={{.Names}} {{.State}}",
};

TEST(WindowsQuoting, CommandLineToArgvWGivesEachArgumentBack) {
  const std::wstring line = to_wide(windows_command_line(R"(C:\Program Files\tool.exe)", tricky_arguments));
  int count = 0;
  wchar_t** parsed = CommandLineToArgvW(line.c_str(), &count);
  ASSERT_NE(parsed, nullptr);
  std::vector<std::string> got;
  for (int index = 0; index < count; ++index) got.push_back(from_wide_lossy(parsed[index]));
  LocalFree(parsed);
  std::vector<std::string> expected{R"(C:\Program Files\tool.exe)"};
  expected.insert(expected.end(), tricky_arguments.begin(), tricky_arguments.end());
  EXPECT_EQ(got, expected);
}

TEST(WindowsQuoting, EachArgumentAloneRoundTrips) {
  for (const std::string& argument : tricky_arguments) {
    const std::wstring line = to_wide("tool " + quote_windows_argument(argument));
    int count = 0;
    wchar_t** parsed = CommandLineToArgvW(line.c_str(), &count);
    ASSERT_NE(parsed, nullptr);
    ASSERT_EQ(count, 2) << argument;
    EXPECT_EQ(from_wide_lossy(parsed[1]), argument);
    LocalFree(parsed);
  }
}

class WindowsRunnerTest : public ::testing::Test {
 protected:
  std::filesystem::path file(std::string_view name) const { return folder.path() / std::string(name); }
  std::string file_text(std::string_view name) const { return path_to_utf8(file(name)); }
  void TearDown() override {
    for (DWORD pid : leftovers) end_process(pid);
  }

  TestFolder folder;
  SystemRunner runner;
  std::string tool = helper_program("child_tool");
  std::vector<DWORD> leftovers;
};

TEST_F(WindowsRunnerTest, ArgumentsArriveThroughTheCRuntimeUnchanged) {
  auto run = runner.run_captured(helper_program("argv_echo"), tricky_arguments, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  std::string expected;
  for (const std::string& argument : tricky_arguments) expected += "[" + argument + "]\n";
  EXPECT_EQ(run->stdout_text, expected);
  EXPECT_EQ(run->exit_code, 0);
}

TEST_F(WindowsRunnerTest, CapturesBothStreamsAndTheExitCode) {
  auto run = runner.run_captured(tool, {"out", "to output\n", "err", "to errors\n", "exit", "3"}, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "to output\n");
  EXPECT_EQ(run->stderr_text, "to errors\n");
  EXPECT_EQ(run->exit_code, 3);
}

TEST_F(WindowsRunnerTest, ExitCodesKeepAllTheirBits) {
  auto run = runner.run_captured(tool, {"exit", "-1"}, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->exit_code, -1);
}

TEST_F(WindowsRunnerTest, InvalidUtf8BecomesReplacementCharacters) {
  auto run = runner.run_captured(tool, {"hex", "ff6f6be282"}, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "\xEF\xBF\xBDok\xEF\xBF\xBD");
  EXPECT_EQ(run->stderr_text, "");
}

TEST_F(WindowsRunnerTest, ReadsLargeOutputOnBothStreamsWithoutBlocking) {
  auto run = runner.run_captured(tool, {"many", "1000000"}, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, std::string(1000000, 'a'));
  EXPECT_EQ(run->stderr_text, std::string(1000000, 'b'));
}

TEST_F(WindowsRunnerTest, OutputPastItsBoundEndsTheProgram) {
  auto run = runner.run_captured_bounded(tool, {"pid", file_text("pid"), "flood"}, generous,
                                         RunBounds{.output_bytes = 65536, .passed = {}});
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error(), RunError::too_large());
  const std::string pid_text = read_text(file("pid"));
  ASSERT_FALSE(pid_text.empty());
  const auto pid = static_cast<DWORD>(std::stoul(pid_text));
  leftovers.push_back(pid);
  EXPECT_FALSE(process_running(pid));
}

TEST_F(WindowsRunnerTest, StandardInputOfACapturedRunIsTheNullDevice) {
  auto run = runner.run_captured(tool, {"streams"}, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "in=null out=pipe err=pipe\n");
}

TEST_F(WindowsRunnerTest, AProgramStillRunningAtItsLimitIsTerminatedWithExitCodeOne) {
  auto pending = std::async(std::launch::async, [&] {
    return runner.run_captured(tool, {"pid", file_text("pid"), "sleep", "30000"}, startup);
  });
  const std::string pid_text = wait_for_text(file("pid"));
  ASSERT_FALSE(pid_text.empty());
  // Opened while it runs, so its exit code can still be read once the run has ended it.
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                               static_cast<DWORD>(std::stoul(pid_text)));
  auto run = pending.get();
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error(), RunError::timed_out());
  EXPECT_EQ(fmt_run_error(run.error()), "no answer in time");
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(process, &code));
  EXPECT_EQ(code, 1u);
  CloseHandle(process);
}

TEST_F(WindowsRunnerTest, ALimitOfZeroStillStartsAndTerminates) {
  auto run = runner.run_captured(tool, {"sleep", "30000"}, 0ns);
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error(), RunError::timed_out());
}

TEST_F(WindowsRunnerTest, ReturnsAtTheLimitWhileAProcessOfTheProgramHoldsThePipes) {
  auto run = runner.run_captured(tool, {"spawn", "30000", file_text("grandchild"), "out", "started",
                                        "sleep", "30000"},
                                 startup);
  const std::string pid_text = wait_for_text(file("grandchild"));
  ASSERT_FALSE(pid_text.empty());
  const auto grandchild = static_cast<DWORD>(std::stoul(pid_text));
  leftovers.push_back(grandchild);
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error(), RunError::timed_out());
  // Had the run waited for its pipes to close, this process would have ended by now.
  EXPECT_TRUE(process_running(grandchild));
}

TEST_F(WindowsRunnerTest, AProgramThatEndedKeepsItsOutputWhileAProcessOfItsOwnHoldsThePipes) {
  auto run = runner.run_captured(tool, {"spawn", "30000", file_text("grandchild"), "out", "done\n",
                                        "err", "noted\n", "exit", "4"},
                                 startup);
  const std::string pid_text = wait_for_text(file("grandchild"));
  ASSERT_FALSE(pid_text.empty());
  const auto grandchild = static_cast<DWORD>(std::stoul(pid_text));
  leftovers.push_back(grandchild);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "done\n");
  EXPECT_EQ(run->stderr_text, "noted\n");
  EXPECT_EQ(run->exit_code, 4);
  EXPECT_TRUE(process_running(grandchild));
}

TEST_F(WindowsRunnerTest, ARunEndsWithItsProgramNotWithItsLimit) {
  // Each run has an hour: only a run that wakes when its program ends gets through these.
  for (int round = 0; round < 10; ++round) {
    const std::string word = std::to_string(round);
    auto run = runner.run_captured(tool, {"out", word, "err", "e", "exit", word}, std::chrono::hours(1));
    ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
    EXPECT_EQ(run->stdout_text, word);
    EXPECT_EQ(run->stderr_text, "e");
    EXPECT_EQ(run->exit_code, round);
  }
}

TEST_F(WindowsRunnerTest, RunsFromSeveralThreadsAtOnce) {
  std::vector<std::future<std::string>> runs;
  for (int index = 0; index < 6; ++index) {
    runs.push_back(std::async(std::launch::async, [&, index] {
      const std::string word = std::to_string(index);
      auto run = runner.run_captured(tool, {"sleep", "100", "out", word, "err", "e" + word}, generous);
      return run ? run->stdout_text + "|" + run->stderr_text : fmt_run_error(run.error());
    }));
  }
  for (int index = 0; index < 6; ++index) {
    EXPECT_EQ(runs[static_cast<std::size_t>(index)].get(),
              std::to_string(index) + "|e" + std::to_string(index));
  }
}

TEST_F(WindowsRunnerTest, AChildInheritsNoHandleButItsStreams) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  ASSERT_TRUE(CreatePipe(&read, &write, &inheritable, 0));
  const std::string value = std::to_string(reinterpret_cast<std::uintptr_t>(write));
  auto captured = runner.run_captured(tool, {"handle", value}, generous);
  auto attached = runner.run_attached(tool, {"report", file_text("report"), "handle", value}, {{"A", "b"}},
                                      AttachMode::Interactive);
  CloseHandle(read);
  CloseHandle(write);
  ASSERT_TRUE(captured.has_value()) << fmt_run_error(captured.error());
  EXPECT_EQ(captured->stdout_text, "absent\n");
  ASSERT_TRUE(attached.has_value()) << fmt_run_error(attached.error());
  EXPECT_EQ(read_text(file("report")), "absent\n");
}

TEST_F(WindowsRunnerTest, AMissingProgramIsNotFoundForBothKinds) {
  for (const std::string& program :
       {std::string("zelk-no-such-program"), file_text("missing"), std::string(R"(Q:\no\such\tool.exe)")}) {
    auto captured = runner.run_captured(program, {"x"}, generous);
    ASSERT_FALSE(captured.has_value()) << program;
    EXPECT_EQ(fmt_run_error(captured.error()), "the program was not found") << program;
    auto attached = runner.run_attached(program, {"x"}, {}, AttachMode::Output);
    ASSERT_FALSE(attached.has_value()) << program;
    EXPECT_EQ(fmt_run_error(attached.error()), "the program was not found") << program;
  }
}

TEST_F(WindowsRunnerTest, ABareNameIsFoundOnPathWithExeAdded) {
  const ScopedEnv path("PATH", helper_folder() + ";" + get_env("PATH").value_or(""));
  auto run = runner.run_captured("child_tool", {"out", "found"}, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "found");
}

TEST_F(WindowsRunnerTest, AFullPathWithoutExeIsTriedWithIt) {
  auto run = runner.run_captured(helper_folder() + "\\child_tool", {"out", "found"}, generous);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->stdout_text, "found");
}

TEST_F(WindowsRunnerTest, TheCurrentFolderIsNotSearched) {
  std::error_code ignored;
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(path_from_utf8(helper_folder()));
  auto run = runner.run_captured("child_tool", {"out", "found"}, generous);
  std::filesystem::current_path(before, ignored);
  ASSERT_FALSE(run.has_value());
  EXPECT_EQ(run.error(), RunError::not_found());
}

TEST_F(WindowsRunnerTest, EnvironmentPairsReplaceInheritedVariablesWithoutRegardToCase) {
  const ScopedEnv a("ZELK_RUNNER_TEST_A", "inherited");
  const ScopedEnv c("ZELK_RUNNER_TEST_C", "kept");
  const EnvPairs pairs{{"zelk_runner_test_a", "first"},
                       {"ZELK_RUNNER_TEST_B", "grüße=✓"},
                       {"Zelk_Runner_Test_A", "second"}};
  auto run = runner.run_attached(tool,
                                 {"report", file_text("report"), "env", "ZELK_RUNNER_TEST_A", "envcount",
                                  "ZELK_RUNNER_TEST_A", "env", "ZELK_RUNNER_TEST_B", "env",
                                  "ZELK_RUNNER_TEST_C", "env", "ZELK_RUNNER_TEST_D"},
                                 pairs, AttachMode::Output);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->exit_code, 0);
  EXPECT_EQ(read_text(file("report")),
            "ZELK_RUNNER_TEST_A=second\ncount 1\nZELK_RUNNER_TEST_B=grüße=✓\n"
            "ZELK_RUNNER_TEST_C=kept\nZELK_RUNNER_TEST_D unset\n");
}

TEST_F(WindowsRunnerTest, AttachedRunGivesTheExitCode) {
  auto run = runner.run_attached(tool, {"exit", "7"}, {}, AttachMode::ErrorsOnly);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->exit_code, 7);
  EXPECT_EQ(run->kept_output, std::nullopt);  // it went to the console
}

// Nobody sees a hidden run: what it wrote to either stream is kept, its last lines only.
TEST_F(WindowsRunnerTest, AHiddenAttachedRunKeepsTheEndOfWhatItWrote) {
  const SystemRunner hidden_runner(SystemRunner::hidden);
  std::vector<std::string> args;
  std::string last_twenty;
  for (int i = 0; i < 30; ++i) {
    const std::string line = "line " + std::to_string(i) + "\n";
    args.insert(args.end(), {i % 2 == 0 ? "out" : "err", line});
    if (i >= 10) last_twenty += line;
  }
  args.insert(args.end(), {"exit", "3"});
  auto run = hidden_runner.run_attached(tool, args, {}, AttachMode::ErrorsOnly);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->exit_code, 3);
  EXPECT_EQ(run->kept_output, last_twenty);
}

TEST_F(WindowsRunnerTest, AHiddenAttachedRunKeepsWhatItsProgramWroteRightBeforeItEnded) {
  // A program that writes line after line and ends at once has often ended with lines still in
  // the pipe: those are read too. Many rounds on several threads, since which comes first varies
  // from run to run, and more so on a busy machine.
  const SystemRunner hidden_runner(SystemRunner::hidden);
  std::vector<std::string> args;
  std::string lines;
  for (int i = 0; i < 20; ++i) {
    const std::string line = "line " + std::to_string(i) + "\n";
    args.insert(args.end(), {"out", line});
    lines += line;
  }
  args.insert(args.end(), {"exit", "0"});
  std::atomic<int> lost{0};
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int thread = 0; thread < 16; ++thread) {
    threads.emplace_back([&] {
      for (int round = 0; round < 80; ++round) {
        auto run = hidden_runner.run_attached(tool, args, {}, AttachMode::ErrorsOnly);
        if (!run) {
          ++failed;
        } else if (run->kept_output != lines) {
          ++lost;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(lost.load(), 0);
}

// The threads of this process.
std::size_t thread_count() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  std::size_t count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

TEST_F(WindowsRunnerTest, AHiddenAttachedRunEndsWithItsProgramWhileAProcessOfItsOwnHoldsTheOutput) {
  const SystemRunner hidden_runner(SystemRunner::hidden);
  const std::size_t threads_before = thread_count();
  auto run = hidden_runner.run_attached(
      tool, {"spawn", "30000", file_text("helper"), "out", "done\n", "err", "noted\n", "exit", "4"}, {},
      AttachMode::ErrorsOnly);
  const std::size_t threads_after = thread_count();
  const std::string pid_text = wait_for_text(file("helper"));
  ASSERT_FALSE(pid_text.empty());
  const auto helper = static_cast<DWORD>(std::stoul(pid_text));
  leftovers.push_back(helper);
  ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
  EXPECT_EQ(run->exit_code, 4);
  EXPECT_EQ(run->kept_output, "done\nnoted\n");
  // Nothing is left reading the output that the helper still holds.
  EXPECT_LE(threads_after, threads_before);
  EXPECT_TRUE(process_running(helper));
}

// Where one standard stream of an attached run goes: the console's own, the null device, or
// the pipe whose end a hidden run keeps.
enum class Goes { Console, Null, Kept };

struct ModeCase {
  AttachMode mode;
  bool hidden;
  Goes in, out, err;
};

std::string kind_of(Goes goes, DWORD which) {
  switch (goes) {
    case Goes::Console: return std_handle_kind(which);
    case Goes::Null: return "null";
    case Goes::Kept: return "pipe";
  }
  return "";
}

TEST_F(WindowsRunnerTest, AttachModesConnectTheStreams) {
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
    auto run = attached_runner.run_attached(tool, {"report", file_text("report"), "streams"}, {}, c.mode);
    ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
    const std::string expected = "in=" + kind_of(c.in, STD_INPUT_HANDLE) + " out=" + kind_of(c.out, STD_OUTPUT_HANDLE) +
                                 " err=" + kind_of(c.err, STD_ERROR_HANDLE) + "\n";
    EXPECT_EQ(read_text(file("report")), expected)
        << "mode " << static_cast<int>(c.mode) << (c.hidden ? " hidden" : "");
  }
}

// Points this process's standard output and error at files for one scope, so that what an
// attached run writes to the console can be read back.
class ConsoleToFiles {
 public:
  ConsoleToFiles(const std::filesystem::path& out, const std::filesystem::path& err)
      : saved_out_(GetStdHandle(STD_OUTPUT_HANDLE)), saved_err_(GetStdHandle(STD_ERROR_HANDLE)) {
    out_ = CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    err_ = CreateFileW(err.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    SetStdHandle(STD_OUTPUT_HANDLE, out_);
    SetStdHandle(STD_ERROR_HANDLE, err_);
  }
  ~ConsoleToFiles() {
    SetStdHandle(STD_OUTPUT_HANDLE, saved_out_);
    SetStdHandle(STD_ERROR_HANDLE, saved_err_);
    CloseHandle(out_);
    CloseHandle(err_);
  }
  ConsoleToFiles(const ConsoleToFiles&) = delete;
  ConsoleToFiles& operator=(const ConsoleToFiles&) = delete;

 private:
  HANDLE saved_out_;
  HANDLE saved_err_;
  HANDLE out_ = nullptr;
  HANDLE err_ = nullptr;
};

struct WrittenCase {
  AttachMode mode;
  bool hidden;
  std::string out;
  std::string err;
};

TEST_F(WindowsRunnerTest, WhatAnAttachedRunWritesReachesTheConsoleByMode) {
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
      run = attached_runner.run_attached(tool, {"out", "said\n", "err", "complained\n", "exit", "2"}, {},
                                         c.mode);
    }
    ASSERT_TRUE(run.has_value()) << fmt_run_error(run.error());
    EXPECT_EQ(run->exit_code, 2);
    const std::string label = "mode " + std::to_string(static_cast<int>(c.mode)) + (c.hidden ? " hidden" : "");
    EXPECT_EQ(read_text(file("out")), c.out) << label;
    EXPECT_EQ(read_text(file("err")), c.err) << label;
  }
}

TEST(WindowsRunErrorFromIo, NotFoundKindsAndSystemTexts) {
  for (int code : {2, 3, 15, 53, 67}) EXPECT_EQ(run_error_from_io(code), RunError::not_found()) << code;
  const RunError denied = run_error_from_io(5);
  ASSERT_EQ(denied.kind, RunError::Kind::Os);
  EXPECT_EQ(denied.text, os_error_text(5));
  const std::string suffix = " (os error 5)";
  ASSERT_GT(denied.text.size(), suffix.size());
  EXPECT_EQ(denied.text.substr(denied.text.size() - suffix.size()), suffix);
  const std::string message = denied.text.substr(0, denied.text.size() - suffix.size());
  EXPECT_EQ(message.find_first_of("\r\n"), std::string::npos) << message;
  EXPECT_FALSE(std::isspace(static_cast<unsigned char>(message.back()))) << message;
}

}  // namespace
}  // namespace zelk
