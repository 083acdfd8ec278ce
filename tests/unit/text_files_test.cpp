#include <gtest/gtest.h>

#include "catalogue_fixtures.h"
#include "test_folder.h"
#include "text_files.h"

namespace zelk {
namespace {

struct Utf8Case {
  std::string_view name;
  std::string_view bytes;
  bool valid;
};

class Utf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8, IsTold) { EXPECT_EQ(is_utf8(GetParam().bytes), GetParam().valid); }

INSTANTIATE_TEST_SUITE_P(
    Bytes, Utf8,
    ::testing::Values(Utf8Case{"Empty", "", true}, Utf8Case{"Ascii", "name: x\r\n", true},
                      Utf8Case{"Nul", std::string_view("a\0b", 3), true},
                      Utf8Case{"TwoBytes", "caf\xc3\xa9", true},
                      Utf8Case{"ThreeBytes", "\xe2\x82\xac", true},
                      Utf8Case{"FourBytes", "\xf0\x9f\x98\x80", true},
                      Utf8Case{"Largest", "\xf4\x8f\xbf\xbf", true},
                      Utf8Case{"LastBeforeSurrogates", "\xed\x9f\xbf", true},
                      Utf8Case{"FirstAfterSurrogates", "\xee\x80\x80", true},
                      Utf8Case{"LoneContinuation", "a\x80", false},
                      Utf8Case{"OverlongTwoBytes", "\xc0\xaf", false},
                      Utf8Case{"OverlongC1", "\xc1\xbf", false},
                      Utf8Case{"OverlongThreeBytes", "\xe0\x9f\xbf", false},
                      Utf8Case{"OverlongFourBytes", "\xf0\x8f\xbf\xbf", false},
                      Utf8Case{"Surrogate", "\xed\xa0\x80", false},
                      Utf8Case{"BeyondLargest", "\xf4\x90\x80\x80", false},
                      Utf8Case{"LeadF5", "\xf5\x80\x80\x80", false},
                      Utf8Case{"ByteFF", "\xff", false},
                      Utf8Case{"CutAtEnd", "ok\xe2\x82", false},
                      Utf8Case{"CutBeforeAscii", "\xe2\x82z", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadTextFile, GivesTheTextOrSaysWhyNot) {
  TestFolder folder;
  put_file(folder.path() / "good", "caf\xc3\xa9\n");
  put_file(folder.path() / "bad", "caf\xe9\n");
  EXPECT_EQ(read_text_file(folder.path() / "good").value(), "caf\xc3\xa9\n");
  EXPECT_EQ(read_text_file(folder.path() / "bad").error(), "stream did not contain valid UTF-8");
  const auto missing = read_text_file(folder.path() / "missing");
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().find("(os error "), std::string::npos) << missing.error();
}

}  // namespace
}  // namespace zelk
