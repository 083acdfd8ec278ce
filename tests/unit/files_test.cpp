#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "child_programs.h"
#include "files.h"
#include "platform.h"
#include "runner.h"
#include "test_folder.h"

namespace zelk {
namespace {

TEST(WriteFileAtomically, ReplacesTheWholeFileAndLeavesNoTemporary) {
  TestFolder folder;
  const auto path = folder.path() / "settings.env";
  ASSERT_TRUE(write_file_atomically(path, "OLD=1\nLONGER=line\n"));
  ASSERT_TRUE(write_file_atomically(path, "NEW=2\n"));
  EXPECT_EQ(read_file(path).value(), "NEW=2\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(WriteFileAtomically, FailsInAMissingFolderAndCreatesNothing) {
  TestFolder folder;
  auto result = write_file_atomically(folder.path() / "absent" / "file", "x");
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().find("(os error "), std::string::npos) << result.error();
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "absent"));
}

// The console and the window program share the data folder with no lock: two real processes
// replace one file thousands of times while a third reads it. No write may fail, no read may
// see anything but one whole text, and no temporary file may be left.
TEST(WriteFileAtomically, TwoProcessesReplaceOneFileWhileAThirdReadsIt) {
  TestFolder folder;
  const std::string file = path_to_utf8(folder.path() / "settings.env");
  const std::string stop = path_to_utf8(folder.path() / "stop");
  const std::string replacer = helper_program("file_replacer");
  const SystemRunner runner;
  const auto limit = std::chrono::minutes(10);
  const std::string count = "3000";

  auto first = runner.run_captured(replacer, {"write", file, "first", "1"}, limit);
  ASSERT_TRUE(first && first->exit_code == 0) << (first ? first->stderr_text : fmt_run_error(first.error()));

  const auto start = [&](std::vector<std::string> args) {
    return std::async(std::launch::async, [&runner, &replacer, &limit, args] {
      return runner.run_captured(replacer, args, limit);
    });
  };
  auto reader = start({"read", file, stop});
  auto one = start({"write", file, "one", count});
  auto two = start({"write", file, "two", count});
  for (auto* writer : {&one, &two}) {
    auto run = writer->get();
    ASSERT_TRUE(run) << fmt_run_error(run.error());
    EXPECT_EQ(run->stdout_text, "failed 0\n") << run->stderr_text;
    EXPECT_EQ(run->exit_code, 0);
  }
  ASSERT_TRUE(write_file_atomically(path_from_utf8(stop), ""));
  auto read = reader.get();
  ASSERT_TRUE(read) << fmt_run_error(read.error());
  EXPECT_EQ(read->stdout_text, "torn 0 failed 0\n") << read->stderr_text;
  EXPECT_EQ(read->exit_code, 0);

  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    left.push_back(path_to_utf8(entry.path().filename()));
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"settings.env", "stop"}));
  const std::string last = read_file(path_from_utf8(file)).value_or("");
  EXPECT_TRUE(last.starts_with("zelk-write one 2999\n") || last.starts_with("zelk-write two 2999\n"))
      << last.substr(0, 40);
}

TEST(WriteFileAtomically, ManyThreadsOfOneProcessNeverShareATemporaryFile) {
  TestFolder folder;
  const auto path = folder.path() / "recipe.yaml";
  std::vector<std::future<int>> writers;
  for (int thread = 0; thread < 8; ++thread) {
    writers.push_back(std::async(std::launch::async, [&path, thread] {
      int failed = 0;
      for (int round = 0; round < 200; ++round) {
        const std::string text(static_cast<std::size_t>(100 + thread * 1000 + round), static_cast<char>('a' + thread));
        if (!write_file_atomically(path, text)) ++failed;
      }
      return failed;
    }));
  }
  for (auto& writer : writers) EXPECT_EQ(writer.get(), 0);
  const std::string text = read_file(path).value_or("");
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.find_first_not_of(text[0]), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), std::filesystem::directory_iterator()),
            1);
}

TEST(ReadFile, MissingFileGivesTheSystemText) {
  TestFolder folder;
  auto result = read_file(folder.path() / "nothing");
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().find("(os error "), std::string::npos);
}

TEST(ReadFile, AFolderAtThePathIsAFailureNotAnException) {
  TestFolder folder;
  auto result = read_file(folder.path());
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().find("(os error "), std::string::npos) << result.error();
}

}  // namespace
}  // namespace zelk
