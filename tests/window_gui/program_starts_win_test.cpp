// The programs the window starts: console windows get the command-line text exactly as given
// and the PATH asked for; Podman Desktop's start has null streams. A stand-in program takes
// cmd's place and writes down what it was started with.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "child_programs.h"
#include "file_text.h"
#include "platform.h"
#include "program_starts_win.h"
#include "scoped_env.h"
#include "test_folder.h"
#include "wide_win.h"
#include "win_shell_win.h"

namespace zelk {
namespace {

struct ConsoleCase {
  std::string arguments;
  std::optional<std::string> path;
};

TEST(ProgramStartsWin, AConsoleGetsTheArgumentTextUnchangedAndThePathAskedFor) {
  const std::string inherited_path = get_env("PATH").value_or("");
  const ConsoleCase cases[] = {
      // The set-up console: quotes inside quotes, passed on as they are.
      {"/k \"title Set up Podman - Valdroven AI Zelk & \"C:\\Program Files\\Zelk\\zelk.exe\" setup\"", std::nullopt},
      {"/k \"title Podman Desktop - Valdroven AI Zelk & winget install --exact --id RedHat.Podman-Desktop "
       "--accept-source-agreements --accept-package-agreements & echo. & echo You can close this window.\"",
       std::nullopt},
      {"/k \"title docker - Valdroven AI Zelk & docker ps -a\"",
       "C:\\Program Files\\Zelk;C:\\Program Files\\Docker\\Docker\\resources\\bin;C:\\Windows\\system32"},
      // Text that quoting rules would change stays as it is, non-ASCII letters included.
      {"/k \"title Zoë's  \\\"apps\\\" - x\" \\\\server\\share\\ ", "D:\\Bücher;;E:\\"},
  };
  for (const ConsoleCase& c : cases) {
    SCOPED_TRACE(c.arguments);
    TestFolder folder;
    const std::filesystem::path report = folder.path() / "report.txt";
    ScopedEnv where("ZELK_CONSOLE_ECHO_REPORT", path_to_utf8(report));
    MessageLoop loop;
    const std::wstring echo = to_wide(helper_program("console_echo"));
    WinShell shell(loop, {.page = "", .make_web_view = {}, .command_interpreter = echo});
    const auto started = shell.start_console(c.arguments, c.path);
    ASSERT_TRUE(started.has_value()) << started.error();
    EXPECT_EQ(wait_for_text(report), "command line: cmd " + c.arguments + "\n" +
                                           "PATH=" + c.path.value_or(inherited_path) + "\n" +
                                           "streams: in=console out=console err=console\n"
                                           "console window: yes\n");
  }
}

TEST(ProgramStartsWin, PodmanDesktopStartsWithNullStreamsAndNoConsole) {
  TestFolder folder;
  const std::filesystem::path report = folder.path() / "report.txt";
  ScopedEnv where("ZELK_CONSOLE_ECHO_REPORT", path_to_utf8(report));
  MessageLoop loop;
  WinShell shell(loop, {.page = "", .make_web_view = {}});
  const std::filesystem::path program = path_from_utf8(helper_program("console_echo"));
  const auto started = shell.start_detached(program);
  ASSERT_TRUE(started.has_value()) << started.error();
  const std::string text = wait_for_text(report);
  EXPECT_NE(text.find("command line: \"" + path_to_utf8(program) + "\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("streams: in=null out=null err=null\nconsole window: no\n"), std::string::npos) << text;
}

TEST(ProgramStartsWin, AStartThatFailsSaysWhyAndTheProgramFolderIsTheRunningProgramsOwn) {
  TestFolder folder;
  MessageLoop loop;
  WinShell missing_interpreter(
      loop, {.page = "", .make_web_view = {}, .command_interpreter = (folder.path() / L"cmd.exe").wstring()});
  const auto console = missing_interpreter.start_console("/k echo", std::nullopt);
  ASSERT_FALSE(console.has_value());
  EXPECT_EQ(console.error(), os_error_text(ERROR_FILE_NOT_FOUND));
  const auto detached = missing_interpreter.start_detached(folder.path() / L"Podman Desktop.exe");
  ASSERT_FALSE(detached.has_value());
  EXPECT_EQ(detached.error(), os_error_text(ERROR_FILE_NOT_FOUND));

  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const auto own = missing_interpreter.program_folder();
  ASSERT_TRUE(own.has_value());
  EXPECT_EQ(*own, std::filesystem::path(self).parent_path());
  // The real shell starts the system's own cmd.
  EXPECT_TRUE(std::filesystem::is_regular_file(system_command_interpreter()));
  EXPECT_EQ(std::filesystem::path(system_command_interpreter()).filename(), "cmd.exe");
}

}  // namespace
}  // namespace zelk
