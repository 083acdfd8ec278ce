// Windows hands names and values over as UTF-16, which may hold a lone surrogate: text that no
// UTF-8 can carry. A data folder, a file name or ZELK_UPDATE_ADDRESS with one must give a
// message or the documented fallback, never an exception that ends the program.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "addresses.h"
#include "child_programs.h"
#include "files.h"
#include "platform.h"
#include "runner.h"
#include "scripted_runner.h"
#include "scoped_env.h"
#include "test_folder.h"
#include "update.h"
#include "zelk/commands.h"

namespace zelk {
namespace {

namespace fs = std::filesystem;

const std::wstring lone = L"\xD800";          // a high surrogate with no low one after it
const std::string replacement = "\xEF\xBF\xBD";  // U+FFFD, where a message shows it

// Sets a variable to UTF-16 that may not be valid Unicode, for one scope.
class ScopedWideEnv {
 public:
  ScopedWideEnv(std::wstring name, const std::wstring& value) : name_(std::move(name)) {
    const DWORD size = GetEnvironmentVariableW(name_.c_str(), nullptr, 0);
    if (size > 0) {
      std::wstring before(size, L'\0');
      before.resize(GetEnvironmentVariableW(name_.c_str(), before.data(), size));
      before_ = std::move(before);
    }
    SetEnvironmentVariableW(name_.c_str(), value.c_str());
  }
  ~ScopedWideEnv() { SetEnvironmentVariableW(name_.c_str(), before_ ? before_->c_str() : nullptr); }
  ScopedWideEnv(const ScopedWideEnv&) = delete;
  ScopedWideEnv& operator=(const ScopedWideEnv&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> before_;
};

TEST(InvalidUnicode, PathTextsNeverThrow) {
  const fs::path path = fs::path(L"C:\\data\\a" + lone + L"b");
  EXPECT_EQ(path_to_utf8(path), "C:\\data\\a" + replacement + "b");
  EXPECT_EQ(path_to_utf8_exact(path), std::nullopt);
  EXPECT_EQ(path_to_utf8_exact(fs::path(L"C:\\d\x00e4ta")), "C:\\d\xc3\xa4ta");
  EXPECT_EQ(path_from_utf8("C:\\\xff"), fs::path(L"C:\\\xFFFD"));
}

TEST(InvalidUnicode, AnUpdateAddressThatIsNotValidUnicodeCountsAsUnset) {
  ScopedWideEnv address(L"ZELK_UPDATE_ADDRESS", L"https://example.org/" + lone + L"/latest.txt");
  EXPECT_EQ(update_list_address(), builtin_update_list_address);
  EXPECT_EQ(get_unicode_env("ZELK_UPDATE_ADDRESS"), std::nullopt);
}

TEST(InvalidUnicode, TheDataFolderKeepsTheNameAsTheSystemGivesIt) {
  ScopedWideEnv home(L"ZELK_HOME", L"C:\\data" + lone);
  EXPECT_EQ(data_folder(), fs::path(L"C:\\data" + lone));
}

TEST(InvalidUnicode, AnUpdateIsNotFetchedIntoADataFolderWithoutAText) {
  TestFolder root;
  const fs::path home = root.path() / fs::path(L"data" + lone);
  ScriptedRunner runner;
  const ScopedEnv address("ZELK_UPDATE_ADDRESS", "https://example.org/releases/latest.txt");
  auto path = download_update(home, runner, UpdateOffer{"9.0.0", "setup.exe", std::string(64, 'a'), 10});
  ASSERT_FALSE(path);
  EXPECT_EQ(path.error(), path_to_utf8(root.path()) + "\\data" + replacement +
                              "\\update could not be created: its name is not valid Unicode. Set ZELK_HOME to a "
                              "folder whose name is.");
  EXPECT_TRUE(runner.runs().empty());
}

// zelk.exe as a real process with a ZELK_HOME that holds a lone surrogate, against the fake
// runtime found on PATH as podman.exe.
class InvalidHomeConsole : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(bin);
    fs::create_directories(fake);
    std::error_code copied;
    fs::copy_file(path_from_utf8(helper_program("fake_podman")), bin / "podman.exe", copied);
    ASSERT_FALSE(copied) << copied.message();
    ASSERT_TRUE(write_file_atomically(fake / "state.txt", "volume\ttorvo-n8n-data\n"));
  }

  RunOutput zelk(const std::vector<std::string>& args) {
    const ScopedEnv path("PATH", path_to_utf8(bin) + ";" + get_env("PATH").value_or(""));
    const ScopedEnv runtime("FAKE_PODMAN_DIR", path_to_utf8(fake));
    const ScopedWideEnv data(L"ZELK_HOME", home.wstring());
    auto run = SystemRunner().run_captured(zelk_program(), args, std::chrono::seconds(60));
    EXPECT_TRUE(run.has_value()) << fmt_run_error(run.error());
    return run.value_or(RunOutput{});
  }

  TestFolder root;
  fs::path bin = root.path() / "bin";
  fs::path fake = root.path() / "fake";
  fs::path above = root.path() / fs::path(L"x" + lone + L"y");  // the folder that holds the data folder
  fs::path home = above / "data";
  std::string home_text = path_to_utf8(root.path()) + "\\x" + replacement + "y\\data";
};

TEST_F(InvalidHomeConsole, DoctorShowsTheFolderWithAReplacementCharacter) {
  const RunOutput run = zelk({"doctor"});
  EXPECT_EQ(run.stdout_text,
            "Data:    " + home_text + "\nRecipes: 4 built in\nRuntime: Podman (podman version 4.6.2)\n");
  EXPECT_EQ(run.stderr_text, "");
  EXPECT_EQ(run.exit_code, 0);
}

TEST_F(InvalidHomeConsole, RemoveEverythingNamesTheFolderItLeaves) {
  const RunOutput run = zelk({"remove", "--everything", "--yes"});
  EXPECT_EQ(run.stdout_text,
            "The data folder " + home_text +
                " was named with ZELK_HOME, so it is left for you to delete.\n"
                "Every app and its data are removed. Podman's machine still takes disk space: \"podman machine rm\" "
                "gives it back. Then uninstall the Zelk and Podman in the list of installed apps.\n");
  EXPECT_EQ(run.stderr_text, "");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(read_file(fake / "state.txt").value_or("<none>"), "");
}

TEST_F(InvalidHomeConsole, BackupBesideTheDataFolderIsRefusedWithAMessage) {
  const RunOutput run = zelk({"backup", "n8n"});
  const std::string backups = path_to_utf8(root.path()) + "\\x" + replacement + "y\\Valdroven AI Zelk backups\\n8n-";
  EXPECT_TRUE(run.stderr_text.starts_with("zelk: " + backups)) << run.stderr_text;
  EXPECT_TRUE(run.stderr_text.ends_with(
      " cannot be handed to Podman: its name is not valid Unicode. Name another folder: zelk backup <app> "
      "<folder>\n"))
      << run.stderr_text;
  EXPECT_EQ(run.stdout_text, "");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_FALSE(fs::exists(above));  // nothing was made
}

TEST_F(InvalidHomeConsole, BackupIntoANamedFolderWorks) {
  const fs::path into = root.path() / "backups";
  const RunOutput run = zelk({"backup", "n8n", path_to_utf8(into)});
  EXPECT_EQ(run.exit_code, 0) << run.stderr_text;
  EXPECT_TRUE(run.stdout_text.starts_with("Copying torvo-n8n-data ...\nn8n is backed up in " + path_to_utf8(into)))
      << run.stdout_text;
}

}  // namespace
}  // namespace zelk
