#include <gtest/gtest.h>

#include <filesystem>

#include "files.h"
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
