#include <windows.h>
#include <gtest/gtest.h>

#include <fstream>

#include "child_programs.h"
#include "file_text.h"
#include "platform.h"
#include "runner.h"
#include "scoped_env.h"
#include "test_folder.h"

namespace zelk {
namespace {

TEST(PlatformWord, IsWindows) { EXPECT_EQ(platform_word, "windows"); }

class FindProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(on_path);
    std::filesystem::create_directories(elsewhere);
    std::filesystem::create_directories(podman_folder);
    std::filesystem::create_directories(elsewhere / "docker.exe");  // a folder, not a file
    touch(on_path / "podman.exe");
    touch(podman_folder / "podman.exe");
    touch(podman_folder / "curl.exe");
  }
  static void touch(const std::filesystem::path& path) { std::ofstream(path) << "MZ"; }
  std::string text(const std::filesystem::path& path) const { return path_to_utf8(path); }

  TestFolder folder;
  std::filesystem::path on_path = folder.path() / "on path";
  std::filesystem::path elsewhere = folder.path() / "elsewhere";
  std::filesystem::path program_files = folder.path() / "Program Files";
  std::filesystem::path podman_folder = program_files / "RedHat" / "Podman";
};

TEST_F(FindProgramTest, APathFolderHoldingTheProgramGivesTheBareName) {
  const ScopedEnv path("PATH", text(elsewhere) + ";" + text(on_path));
  const ScopedEnv files("ProgramFiles", text(program_files));
  EXPECT_EQ(find_program("podman"), "podman");
}

TEST_F(FindProgramTest, QuotedPathFoldersCount) {
  std::string list = "\"";
  list.append(text(elsewhere)).append("\";;\"").append(text(on_path)).append("\"");
  const ScopedEnv path("PATH", list);
  const ScopedEnv files("ProgramFiles", std::nullopt);
  EXPECT_EQ(find_program("podman"), "podman");
}

TEST_F(FindProgramTest, PodmansOwnFolderServesWhenPathLacksIt) {
  const ScopedEnv path("PATH", text(elsewhere));
  const ScopedEnv files("ProgramFiles", text(program_files));
  EXPECT_EQ(find_program("podman"), text(podman_folder / "podman.exe"));
  EXPECT_EQ(find_program("curl"), text(podman_folder / "curl.exe"));
}

TEST_F(FindProgramTest, WithoutPathTheProgramFolderIsStillLookedAt) {
  const ScopedEnv path("PATH", std::nullopt);
  const ScopedEnv files("ProgramFiles", text(program_files));
  EXPECT_EQ(find_program("podman"), text(podman_folder / "podman.exe"));
}

TEST_F(FindProgramTest, FoundNowhereGivesTheNameItself) {
  const ScopedEnv path("PATH", text(elsewhere));
  const ScopedEnv files("ProgramFiles", text(program_files));
  EXPECT_EQ(find_program("docker"), "docker");  // a folder named docker.exe is no program
  const ScopedEnv no_files("ProgramFiles", std::nullopt);
  EXPECT_EQ(find_program("podman"), "podman");
}

TEST_F(FindProgramTest, ANameWithAFolderPartIsLeftAlone) {
  const ScopedEnv path("PATH", text(elsewhere));
  const ScopedEnv files("ProgramFiles", text(program_files));
  EXPECT_EQ(find_program(R"(tools\podman)"), R"(tools\podman)");
  EXPECT_EQ(find_program("tools/podman"), "tools/podman");
}

TEST(OpenInBrowser, StartsRundll32WithTheAddressAndNullStreams) {
  // The helper lies beside a stand-in rundll32, which the start finds first in the folder of
  // the program that starts it.
  const TestFolder folder;
  const std::filesystem::path record = folder.path() / "record";
  const ScopedEnv record_env("ZELK_TEST_BROWSER_RECORD", path_to_utf8(record));
  const SystemRunner runner;
  auto probe = runner.run_captured(helper_program("browser_probe"), {"http://127.0.0.1:8080/a b?c=d&e"},
                                   std::chrono::seconds(30));
  ASSERT_TRUE(probe.has_value()) << fmt_run_error(probe.error());
  EXPECT_EQ(probe->stdout_text, "opened\n");
  EXPECT_EQ(wait_for_text(record),
            "[url.dll,FileProtocolHandler]\n[http://127.0.0.1:8080/a b?c=d&e]\nin=null out=null err=null\n");
}

}  // namespace
}  // namespace zelk
