// The fuzzer's seeds stay what their names say: a seed named "broken-..." is refused, every
// other seed is a recipe that passes, so the fuzzer starts from both sides of every rule.

#include <gtest/gtest.h>

#include <filesystem>

#include "files.h"
#include "platform.h"
#include "recipe.h"

namespace zelk {
namespace {

TEST(FuzzCorpus, BrokenSeedsAreRefusedAndTheOthersPass) {
  const std::filesystem::path folder = path_from_utf8(ZELK_SOURCE_DIR) / "fuzz" / "corpus";
  std::size_t seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = path_to_utf8(entry.path().filename());
    const auto text = read_file(entry.path());
    ASSERT_TRUE(text) << name << ": " << text.error();
    EXPECT_LE(text->size(), 65536u) << name;
    const auto recipe = read_recipe(*text);
    if (name.starts_with("broken-")) {
      EXPECT_FALSE(recipe) << name << " passes";
    } else {
      EXPECT_TRUE(recipe) << name << ": " << recipe.error();
    }
    ++seeds;
  }
  EXPECT_GE(seeds, 6u);
}

}  // namespace
}  // namespace zelk
