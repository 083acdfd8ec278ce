// Texts no one would write on purpose: binary data, extreme nesting, broken UTF-8, and
// mutated recipes. Each must end in a recipe or a message, never in a crash or a hang.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "recipe.h"
#include "sample_recipes.h"

namespace zelk {
namespace {

std::string message_of(std::string_view text) {
  const auto recipe = read_recipe(text);
  return recipe ? "(accepted)" : recipe.error();
}

/// What every recipe that passed must hold, whatever text it came from.
void expect_sound(const Recipe& recipe) {
  EXPECT_EQ(recipe.container, "torvo-" + recipe.id);
  EXPECT_GE(recipe.port, 1024);
  EXPECT_GE(recipe.inner_port, 1);
  EXPECT_TRUE(recipe.ready.starts_with('/'));
  EXPECT_TRUE(recipe.open.starts_with('/'));
  EXPECT_TRUE(recipe.settings.starts_with("# Settings of " + recipe.name + "."));
  EXPECT_TRUE(recipe.settings.ends_with('\n'));
  EXPECT_NE(recipe.settings.find("\nTORVO_PORT=" + std::to_string(recipe.port) + "\n"),
            std::string::npos);
  for (const RecipeService& helper : recipe.helpers) {
    EXPECT_EQ(helper.container, recipe.container + "-" + helper.name);
  }
  for (const std::string& volume : volume_names(recipe)) {
    EXPECT_TRUE(volume.starts_with(recipe.container + "-")) << volume;
  }
  for (const std::string& used : recipe.uses) EXPECT_NE(used, recipe.id);
  EXPECT_FALSE(describe_recipe(recipe).empty());
}

TEST(RecipeJunk, BinaryDataEndsInAMessage) {
  std::minstd_rand bytes(20240611);
  for (const std::size_t size : {1u, 2u, 7u, 100u, 4096u, 65536u}) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) text += static_cast<char>(bytes() & 0xFF);
    const auto recipe = read_recipe(text);
    ASSERT_FALSE(recipe) << size;
    EXPECT_FALSE(recipe.error().empty());
  }
}

TEST(RecipeJunk, NulBytesAreOrdinaryCharacters) {
  EXPECT_EQ(message_of(std::string("\0", 1)),
            "Line 1: expected a setting of the form \"name: value\".");
  EXPECT_EQ(message_of(std::string("a\0: 1\n", 6)),
            "Line 1: a name may have letters, digits, \"_\", \"-\" and \".\" only.");
}

TEST(RecipeJunk, ListMarkersFillingSixtyFourKilobytes) {
  std::string text;
  while (text.size() < 65536) text += "- ";
  ASSERT_EQ(text.size(), 65536u);
  EXPECT_EQ(message_of(text), "The file needs settings below it, each on its own line.");
}

TEST(RecipeJunk, DashLinesEachIndentedOneMoreUpToSixtyFourKilobytes) {
  std::string text;
  for (std::size_t i = 0; text.size() + i + 2 <= 65536; ++i) text += std::string(i, ' ') + "-\n";
  EXPECT_EQ(message_of(text), "The file needs settings below it, each on its own line.");
}

TEST(RecipeJunk, DeepestNestingOfSixtyFourKilobytesInsideXZelk) {
  std::string text = "x-zelk:\n  format:\n";
  for (std::size_t i = 3; text.size() + i + 3 <= 65536; ++i) text += std::string(i, ' ') + "a:\n";
  EXPECT_EQ(message_of(text), "x-zelk: \"format\" needs a value on its line.");
}

TEST(RecipeJunk, NestingFarDeeperThanSixtyFourKilobytesAllow) {
  // Ten megabytes nest over four thousand levels: read without recursion, refused at the top.
  std::string text;
  for (std::size_t i = 0; i < 4500; ++i) text += std::string(i, ' ') + (i % 2 ? "-\n" : "k:\n");
  EXPECT_EQ(message_of(text),
            "The file has \"k\", which the Zelk does not run. It runs: name, services, volumes, "
            "networks, x-zelk, x-podman.");
}

TEST(RecipeJunk, TextsAroundTheSizeLimitEndInAResult) {
  // read_recipe has no limit of its own: the catalogue refuses texts over 65,536 bytes first.
  for (const std::size_t size : {65536u, 65537u}) {
    std::string padded(samples::notes_recipe);
    while (padded.size() + 80 < size) padded += "# " + std::string(77, 'x') + "\n";
    padded += "#" + std::string(size - padded.size() - 2, 'y') + "\n";
    ASSERT_EQ(padded.size(), size);
    const auto recipe = read_recipe(padded);
    ASSERT_TRUE(recipe) << recipe.error();
    expect_sound(*recipe);

    EXPECT_EQ(message_of(std::string(size, 'a')),
              "Line 1: expected a setting of the form \"name: value\".");
  }
}

std::string with_name(std::string_view name) {
  std::string text(samples::notes_recipe);
  text.replace(text.find("name: Notes"), 11, "name: " + std::string(name));
  return text;
}

TEST(RecipeJunk, InvalidUtf8CountsOneCharacterPerBadByte) {
  const auto forty = read_recipe(with_name(std::string(40, '\xFF')));
  ASSERT_TRUE(forty) << forty.error();
  EXPECT_EQ(forty->name, std::string(40, '\xFF'));
  EXPECT_EQ(message_of(with_name(std::string(41, '\xFF'))),
            "x-zelk: \"name\" is longer than 40 characters.");
  // A truncated three-byte sequence is two characters; an overlong NUL is two, neither a
  // control character; U+0080 encoded properly is one.
  EXPECT_EQ(message_of(with_name(std::string(39, 'n') + "\xE2\x82")),
            "x-zelk: \"name\" is longer than 40 characters.");
  EXPECT_EQ(message_of(with_name("a\xC0\x80z")), "(accepted)");
  EXPECT_EQ(message_of(with_name("a\xC2\x80z")), "x-zelk: \"name\" is one line of plain text.");
  EXPECT_EQ(message_of(with_name("\xED\xA0\x80")), "(accepted)");  // a lone surrogate: 3 bad bytes
}

TEST(RecipeJunk, MutatedRecipesEndInASoundRecipeOrAMessage) {
  const std::string_view tokens[] = {"${",
                                     "}",
                                     "$",
                                     "$$",
                                     ":",
                                     ": ",
                                     "- ",
                                     "-",
                                     "\n",
                                     "\r\n",
                                     "  ",
                                     "\t",
                                     "#",
                                     " #",
                                     "\"",
                                     "'",
                                     "\\",
                                     "torvo-",
                                     "..",
                                     "external: true",
                                     "depends_on:\n      - ",
                                     ":latest",
                                     "@sha256:",
                                     "\xC2\x85",
                                     "\xFF",
                                     "x-zelk:",
                                     "format: 2"};
  std::minstd_rand random(7);
  const auto below = [&](std::size_t n) { return n == 0 ? 0 : random() % n; };
  std::size_t accepted = 0;
  std::size_t refused = 0;
  for (const std::string_view base : {samples::notes_recipe, samples::wiki_recipe}) {
    for (int round = 0; round < 3000; ++round) {
      std::string text(base);
      const int changes = 1 + static_cast<int>(below(3));
      for (int c = 0; c < changes; ++c) {
        const std::size_t at = below(text.size() + 1);
        switch (below(4)) {
          case 0:
            text.insert(at, tokens[below(std::size(tokens))]);
            break;
          case 1:
            text.erase(at, 1 + below(12));
            break;
          case 2:
            if (at < text.size()) text[at] = static_cast<char>(random() & 0xFF);
            break;
          default:
            text.insert(at, text.substr(below(text.size()), below(40)));
            break;
        }
      }
      const auto recipe = read_recipe(text);
      if (recipe) {
        ++accepted;
        expect_sound(*recipe);
      } else {
        ++refused;
        EXPECT_FALSE(recipe.error().empty()) << text;
      }
    }
  }
  // Both outcomes occur, so the mutations reach past the first checks.
  EXPECT_GT(accepted, 100u);
  EXPECT_GT(refused, 100u);
}

}  // namespace
}  // namespace zelk
