// Failures that only a POSIX system lets a test bring about on purpose.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>

#include "apps.h"
#include "files.h"
#include "platform.h"
#include "catalogue_fixtures.h"
#include "test_folder.h"

namespace zelk {
namespace {

// Lowers the largest file this process may write, as a full disk would stop a write part-way.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lower = old_;
    lower.rlim_cur = bytes;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &lower), 0);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, old_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  void (*old_handler_)(int) = nullptr;
};

TEST(KeepRecipeWrite, AWriteStoppedPartWayLeavesTheOldRecipeWhole) {
  TestFolder folder;
  const std::string old_text = sample_recipe("notes", "Notes", 40001);
  ASSERT_TRUE(keep_recipe(old_text, folder.path()));
  const std::string new_text = padded_to(sample_recipe("notes", "Notes 2", 40001), 20000);

  std::expected<Admission, std::string> kept;
  {
    const FileSizeLimit limit(4096);
    kept = keep_recipe(new_text, folder.path());
  }
  ASSERT_FALSE(kept);
  EXPECT_TRUE(kept.error().starts_with("The recipe could not be kept in " +
                                       path_to_utf8(recipes_folder(folder.path())) + ": "))
      << kept.error();
  EXPECT_EQ(read_file(recipe_path(folder.path(), "notes")).value(), old_text);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(recipes_folder(folder.path()))) {
    names.push_back(path_to_utf8(entry.path().filename()));
  }
  EXPECT_EQ(names, std::vector<std::string>{"notes.yaml"});
  EXPECT_EQ(load_catalogue(folder.path()).recipes.back().name, "Notes");
}

std::string shell_quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// The console program loads the real catalogue: a broken added recipe leaves one notice line
// before the command's own output, and the command still runs.
TEST(ConsoleProgram, PrintsTheCataloguesNoticesAndGoesOn) {
  TestFolder folder;
  const std::filesystem::path home = folder.path() / "home";
  put_file(recipe_path(home, "broken"), "x-zelk:\n  format: 3\n");
  put_file(recipe_path(home, "notes"), sample_recipe("notes", "Notes", 40001));
  const std::string out = path_to_utf8(folder.path() / "out");
  const std::string err = path_to_utf8(folder.path() / "err");
  const std::string command = "ZELK_HOME=" + shell_quoted(path_to_utf8(home)) + " " +
                              shell_quoted(ZELK_BINARY) + " start nothing-such >" + shell_quoted(out) +
                              " 2>" + shell_quoted(err);
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::string errors = read_file(folder.path() / "err").value();
  const std::string notice = "zelk: The recipe " + path_to_utf8(recipe_path(home, "broken")) +
                             " is not used: x-zelk: this Zelk reads formats 1 and 2; the file "
                             "says format 3.\n";
  EXPECT_TRUE(errors.starts_with(notice)) << errors;
  EXPECT_EQ(errors.find("zelk: The recipe", notice.size()), std::string::npos) << errors;
  EXPECT_GT(errors.size(), notice.size()) << "the command itself said nothing";
}

}  // namespace
}  // namespace zelk
