#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "platform.h"
#include "scoped_env.h"
#include "test_folder.h"

namespace zelk {
namespace {

// The variable that names the user's own folder on this platform.
std::string profile_variable() { return platform_word == "windows" ? "USERPROFILE" : "HOME"; }

enum class Expect { ZelkHome, Profile, None };

struct DataFolderCase {
  const char* name;
  std::optional<std::string> zelk_home;
  std::optional<std::string> profile;
  Expect expect;
};

TEST(DataFolder, FollowsZelkHomeThenTheProfileFolder) {
  const TestFolder folder;
  const std::string home = path_to_utf8(folder.path() / "zelk hömé");
  const std::string profile = path_to_utf8(folder.path() / "profile");
  const std::string trailing = path_to_utf8(folder.path()) + "/x/";
  const DataFolderCase cases[] = {
      {"ZELK_HOME wins", home, profile, Expect::ZelkHome},
      {"ZELK_HOME alone", home, std::nullopt, Expect::ZelkHome},
      {"ZELK_HOME unchanged", trailing, std::nullopt, Expect::ZelkHome},
      {"empty ZELK_HOME counts as not set", "", profile, Expect::Profile},
      {"no ZELK_HOME", std::nullopt, profile, Expect::Profile},
      {"empty profile counts as not set", std::nullopt, "", Expect::None},
      {"both empty", "", "", Expect::None},
      {"neither", std::nullopt, std::nullopt, Expect::None},
  };
  for (const DataFolderCase& c : cases) {
    const ScopedEnv zelk_home("ZELK_HOME", c.zelk_home);
    const ScopedEnv user(profile_variable(), c.profile);
    const std::optional<std::filesystem::path> found = data_folder();
    switch (c.expect) {
      case Expect::ZelkHome:
        ASSERT_TRUE(found.has_value()) << c.name;
        EXPECT_EQ(path_to_utf8(*found), *c.zelk_home) << c.name;
        break;
      case Expect::Profile:
        ASSERT_TRUE(found.has_value()) << c.name;
        EXPECT_EQ(*found, path_from_utf8(*c.profile) / ".torvo") << c.name;
        break;
      case Expect::None:
        EXPECT_EQ(found, std::nullopt) << c.name;
        break;
    }
  }
}

TEST(GetEnv, GivesUtf8TextOrNothing) {
  {
    const ScopedEnv set("ZELK_PLATFORM_TEST", "grüße ✓ = yes");
    EXPECT_EQ(get_env("ZELK_PLATFORM_TEST"), "grüße ✓ = yes");
  }
  {
    const ScopedEnv unset("ZELK_PLATFORM_TEST", std::nullopt);
    EXPECT_EQ(get_env("ZELK_PLATFORM_TEST"), std::nullopt);
  }
}

TEST(FillRandom, FillsThirtyTwoBytes) {
  std::vector<std::array<std::uint8_t, 32>> draws(4);
  for (auto& draw : draws) {
    draw.fill(0);
    ASSERT_TRUE(fill_random(draw).has_value());
  }
  // Four draws of 32 bytes are all zero, or all alike, only when nothing was drawn.
  const bool any_nonzero = std::any_of(draws.begin(), draws.end(), [](const auto& draw) {
    return std::any_of(draw.begin(), draw.end(), [](std::uint8_t byte) { return byte != 0; });
  });
  EXPECT_TRUE(any_nonzero);
  EXPECT_NE(draws[0], draws[1]);
  EXPECT_NE(draws[2], draws[3]);
}

TEST(FillRandom, FillsALargeBufferToItsEnd) {
  std::vector<std::uint8_t> buffer(1 << 20, 0);
  ASSERT_TRUE(fill_random(buffer).has_value());
  // The last kilobyte is filled too, not only the start.
  EXPECT_TRUE(std::any_of(buffer.end() - 1024, buffer.end(), [](std::uint8_t byte) { return byte != 0; }));
}

TEST(FillRandom, AnEmptyBufferSucceeds) {
  std::vector<std::uint8_t> empty;
  EXPECT_TRUE(fill_random(empty).has_value());
}

}  // namespace
}  // namespace zelk
