#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "child_programs.h"
#include "platform.h"
#include "runner.h"
#include "scoped_env.h"
#include "test_folder.h"
#include "zelk/commands.h"

namespace zelk {
namespace {

// The console program as a real process, with the environment a test sets for it.
class ConsoleTest : public ::testing::Test {
 protected:
  RunOutput zelk(const std::vector<std::string>& args) {
    auto run = SystemRunner().run_captured(zelk_program(), args, std::chrono::seconds(60));
    EXPECT_TRUE(run.has_value()) << fmt_run_error(run.error());
    return run.value_or(RunOutput{});
  }
  std::string folder_text() const { return path_to_utf8(folder.path()); }
  static std::string profile_variable() { return platform_word == "windows" ? "USERPROFILE" : "HOME"; }

  TestFolder folder;
  const std::string usage = std::string(usage_text) + "\n";
  const std::string no_home = "zelk: no home directory was found. Set ZELK_HOME.\n";
};

TEST_F(ConsoleTest, NoArgumentsPrintsTheUsage) {
  const ScopedEnv home("ZELK_HOME", folder_text());
  const RunOutput run = zelk({});
  EXPECT_EQ(run.stdout_text, usage);
  EXPECT_EQ(run.stderr_text, "");
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(ConsoleTest, HelpWordsPrintTheUsage) {
  const ScopedEnv home("ZELK_HOME", folder_text());
  for (const std::string word : {"help", "--help", "-h"}) {
    const RunOutput run = zelk({word});
    EXPECT_EQ(run.stdout_text, usage) << word;
    EXPECT_EQ(run.stderr_text, "") << word;
    EXPECT_EQ(run.exit_code, 0) << word;
  }
}

TEST_F(ConsoleTest, VersionPrintsTheProgramsVersion) {
  const ScopedEnv home("ZELK_HOME", folder_text());
  for (const std::string word : {"version", "--version"}) {
    const RunOutput run = zelk({word});
    EXPECT_EQ(run.stdout_text, "zelk 0.2.0-alpha.15\n") << word;
    EXPECT_EQ(run.stderr_text, "") << word;
    EXPECT_EQ(run.exit_code, 0) << word;
  }
}

TEST_F(ConsoleTest, AnUnknownWordGivesTheUsageOnErrorsAndExitCodeOne) {
  const ScopedEnv home("ZELK_HOME", folder_text());
  const RunOutput run = zelk({"frob", "more"});
  EXPECT_EQ(run.stdout_text, "");
  EXPECT_EQ(run.stderr_text, "zelk: Unknown command \"frob\".\n\n" + usage);
  EXPECT_EQ(run.exit_code, 1);
}

TEST_F(ConsoleTest, ArgumentsArriveWhole) {
  const ScopedEnv home("ZELK_HOME", folder_text());
  for (const std::string word : {"", "two words", R"(say "hi")", R"(ends\)", "grüße ✓"}) {
    const RunOutput run = zelk({word});
    EXPECT_EQ(run.stderr_text, "zelk: Unknown command \"" + word + "\".\n\n" + usage) << word;
    EXPECT_EQ(run.exit_code, 1) << word;
  }
}

TEST_F(ConsoleTest, WithoutAnyHomeOnlyTheNoHomeLineIsWritten) {
  const ScopedEnv home("ZELK_HOME", std::nullopt);
  const ScopedEnv profile(profile_variable(), std::nullopt);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"version"}, std::vector<std::string>{"frob"}}) {
    const RunOutput run = zelk(args);
    EXPECT_EQ(run.stdout_text, "");
    EXPECT_EQ(run.stderr_text, no_home);
    EXPECT_EQ(run.exit_code, 1);
  }
}

TEST_F(ConsoleTest, EmptyHomeVariablesCountAsNotSet) {
  const ScopedEnv home("ZELK_HOME", "");
  const ScopedEnv profile(profile_variable(), "");
  const RunOutput run = zelk({"version"});
  EXPECT_EQ(run.stdout_text, "");
  EXPECT_EQ(run.stderr_text, no_home);
  EXPECT_EQ(run.exit_code, 1);
}

TEST_F(ConsoleTest, AnEmptyZelkHomeFallsBackToTheProfileFolder) {
  const ScopedEnv home("ZELK_HOME", "");
  const ScopedEnv profile(profile_variable(), folder_text());
  const RunOutput run = zelk({"version"});
  EXPECT_EQ(run.stdout_text, "zelk 0.2.0-alpha.15\n");
  EXPECT_EQ(run.stderr_text, "");
  EXPECT_EQ(run.exit_code, 0);
  // Nothing is created in the data folder just by starting.
  EXPECT_FALSE(std::filesystem::exists(folder.path() / ".torvo"));
}

}  // namespace
}  // namespace zelk
