// The recipe-format guide shows complete recipes; each must pass the very reader and admission
// that the programs use, so the guide can never drift from what Zelk accepts.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "apps.h"
#include "files.h"
#include "platform.h"
#include "shelf.h"

namespace zelk {
namespace {

std::filesystem::path source_file(std::string_view relative) {
  return path_from_utf8(ZELK_SOURCE_DIR) / path_from_utf8(relative);
}

// The bodies of the fenced blocks of one kind ("yaml", "text"), in the order of the guide.
std::vector<std::string> fenced_blocks(std::string_view guide, std::string_view kind) {
  std::vector<std::string> blocks;
  const std::string opening = "```" + std::string(kind) + "\n";
  for (std::size_t at = guide.find(opening); at != std::string_view::npos;
       at = guide.find(opening, at)) {
    at += opening.size();
    const std::size_t end = guide.find("\n```\n", at - 1);
    if (end == std::string_view::npos) {
      ADD_FAILURE() << "a ```" << kind << " block is not closed";
      break;
    }
    blocks.emplace_back(guide.substr(at, end + 1 - at));
    at = end + 5;
  }
  return blocks;
}

std::string guide_text() {
  const auto guide = read_file(source_file("docs/making-an-app.md"));
  EXPECT_TRUE(guide) << guide.error();
  return guide.value_or("");
}

TEST(Guide, EveryRecipeItShowsIsAdmittedBesideTheBuiltins) {
  const std::vector<std::string> examples = fenced_blocks(guide_text(), "yaml");
  ASSERT_GE(examples.size(), 5U);
  std::vector<Recipe> known = builtin_recipes();
  for (const std::string& example : examples) {
    const auto alone = admit_recipe(example, builtin_recipes());
    ASSERT_TRUE(alone) << alone.error() << "\n" << example;
    EXPECT_FALSE(alone->replaces);
    // Someone may add every example: none takes another's id, port, container or volume.
    const auto together = admit_recipe(example, known);
    ASSERT_TRUE(together) << together.error() << "\n" << example;
    EXPECT_FALSE(together->replaces) << example;
    known.push_back(together->recipe);
  }
}

TEST(Guide, TheShelfPageShowsAShelfThatIsRead) {
  const auto page = read_file(source_file("docs/making-a-shelf.md"));
  ASSERT_TRUE(page) << page.error();
  const std::vector<std::string> shelves = fenced_blocks(*page, "yaml");
  ASSERT_EQ(shelves.size(), 1U);
  const auto shelf = parse_shelf(shelves[0], "https://example.org/course/shelf.yaml");
  ASSERT_TRUE(shelf) << shelf.error();
  EXPECT_EQ(shelf->recipes.size(), 3U);
  EXPECT_EQ(shelf->recipes.front().address, "https://example.org/course/notes.yaml");
}

TEST(Guide, ShowsBothFormatsHelpersCommandsAndNetworks) {
  std::vector<Recipe> recipes;
  for (const std::string& example : fenced_blocks(guide_text(), "yaml")) {
    recipes.push_back(read_recipe(example).value());
  }
  const auto any = [&recipes](auto test) { return std::any_of(recipes.begin(), recipes.end(), test); };
  EXPECT_TRUE(any([](const Recipe& r) { return !r.helpers.empty(); }));
  EXPECT_TRUE(any([](const Recipe& r) { return !r.command.empty(); }));
  EXPECT_TRUE(any([](const Recipe& r) { return r.uses == std::vector<std::string>{"ollama"}; }));
  EXPECT_TRUE(any([](const Recipe& r) { return r.network.has_value(); }));
  EXPECT_TRUE(any([](const Recipe& r) { return r.settings.find("_PASSWORD=\n") != std::string::npos; }));
}

TEST(Guide, ShowsTheSettingsFileAndTheRefusalAsTheyAre) {
  const std::string guide = guide_text();
  const std::vector<std::string> examples = fenced_blocks(guide, "yaml");
  const std::vector<std::string> texts = fenced_blocks(guide, "text");
  ASSERT_FALSE(examples.empty());
  ASSERT_EQ(texts.size(), 2U);
  const std::string& first = examples.front();
  EXPECT_EQ(texts[0], read_recipe(first).value().settings);

  std::string unpinned = first;
  const std::size_t tag = unpinned.find(":1.32.7");
  ASSERT_NE(tag, std::string::npos);
  unpinned.replace(tag, 7, ":latest");
  EXPECT_EQ(texts[1], read_recipe(unpinned).error() + "\n");
}

// The fuzzers start from every recipe the project ships.
TEST(FuzzCorpus, HoldsTheBuiltinRecipesAndTheGuidesExamples) {
  const std::array<std::string_view, 4> ids{"n8n", "gitea", "open-webui", "ollama"};
  const auto texts = builtin_recipe_texts();
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const auto corpus =
        read_file(source_file("fuzz/corpus/builtin-" + std::string(ids[i]) + ".yaml"));
    ASSERT_TRUE(corpus) << ids[i] << ": " << corpus.error();
    EXPECT_EQ(*corpus, texts[i]) << ids[i];
  }
  for (const std::string& example : fenced_blocks(guide_text(), "yaml")) {
    const std::string id = read_recipe(example).value().id;
    const auto corpus = read_file(source_file("fuzz/corpus/guide-" + id + ".yaml"));
    ASSERT_TRUE(corpus) << id << ": " << corpus.error();
    EXPECT_EQ(*corpus, example) << id;
  }
}

}  // namespace
}  // namespace zelk
