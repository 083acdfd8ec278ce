#include <gtest/gtest.h>

#include "apps.h"
#include "files.h"
#include "platform.h"
#include "catalogue_fixtures.h"
#include "test_folder.h"

namespace zelk {
namespace {

TEST(RecipeFiles, LieInTheRecipesFolderUnderTheirId) {
  const std::filesystem::path home = path_from_utf8("home");
  EXPECT_EQ(recipes_folder(home), home / "recipes");
  EXPECT_EQ(recipe_path(home, "notes"), home / "recipes" / "notes.yaml");
  EXPECT_EQ(origin_path(home, "notes"), home / "recipes" / "notes.from");
}

TEST(Fnv1a64, MatchesTheKnownValues) {
  struct Case {
    std::string_view bytes;
    std::string_view hash;
  };
  const Case cases[] = {
      {"", "cbf29ce484222325"},
      {"a", "af63dc4c8601ec8c"},
      {"foobar", "85944171f73967e8"},
      {"a\nb", "e5beb1190415e670"},
      {"a\rb", "e5adb319040776a3"},
      {"zelk-43100", "0042787c489f9c3c"},  // leading zeros are written out
      {std::string_view("\0", 1), "af63bd4c8601b7df"},
  };
  for (const Case& c : cases) EXPECT_EQ(fnv1a_64(c.bytes), c.hash) << c.bytes;
}

TEST(RecipeHashLine, ReadsCarriageReturnLineFeedAsLineFeed) {
  EXPECT_EQ(recipe_hash_line("a\r\nb"), fnv1a_64("a\nb"));
  EXPECT_EQ(recipe_hash_line("a\nb"), "e5beb1190415e670");
  EXPECT_EQ(recipe_hash_line("a\rb"), "e5adb319040776a3");
  EXPECT_EQ(recipe_hash_line("a\r\r\nb\r"), fnv1a_64("a\r\nb\r"));
  EXPECT_EQ(recipe_hash_line(sample_recipe("notes", "Notes", 40001, "\r\n")),
            recipe_hash_line(sample_recipe("notes", "Notes", 40001, "\n")));
  EXPECT_NE(recipe_hash_line(sample_recipe("notes", "Notes", 40001)),
            recipe_hash_line(sample_recipe("notes", "Notez", 40001)));
}

class Origin : public ::testing::Test {
 protected:
  void SetUp() override {
    put_file(recipe_path(folder.path(), "notes"), fetched);
  }
  std::string from_catalogue() const {
    const RecipeCatalogue catalogue = load_catalogue(folder.path());
    EXPECT_TRUE(catalogue.notices.empty());
    return catalogue.recipes.back().from;
  }
  TestFolder folder;
  const std::string address = "https://example.org/recipes/notes.yaml";
  const std::string fetched = sample_recipe("notes", "Notes", 40001, "\r\n");
};

TEST_F(Origin, HoldsForTheTextAsFetchedWhateverItsLineEnds) {
  ASSERT_TRUE(keep_origin(folder.path(), "notes", address, fetched));
  EXPECT_EQ(read_file(origin_path(folder.path(), "notes")).value(),
            address + "\n" + recipe_hash_line(fetched) + "\n");
  EXPECT_EQ(recipe_origin(folder.path(), "notes", fetched), address);
  EXPECT_EQ(recipe_origin(folder.path(), "notes", sample_recipe("notes", "Notes", 40001)), address);
  EXPECT_EQ(from_catalogue(), address);
}

TEST_F(Origin, IsLostWhenOneCharacterChangesAndBackWhenItIsRestored) {
  ASSERT_TRUE(keep_origin(folder.path(), "notes", address, fetched));
  std::string edited = fetched;
  edited.replace(edited.find("Notes"), 5, "Motes");
  put_file(recipe_path(folder.path(), "notes"), edited);
  EXPECT_EQ(from_catalogue(), "");
  put_file(recipe_path(folder.path(), "notes"), fetched);
  EXPECT_EQ(from_catalogue(), address);
}

TEST_F(Origin, NeedsTwoLinesAndAnExactHashLine) {
  const std::string hash = recipe_hash_line(fetched);
  struct Case {
    std::string origin_file;
    std::string origin;
  };
  const std::vector<Case> cases{
      {address + "\n" + hash + "\n", address},
      {address + "\r\n" + hash + "\r\n", address},
      {address + "\n" + hash, address},  // the last line needs no line end
      {address + "\n" + hash + "\nmore\n", address},
      {address + "\n" + hash + " \n", ""},  // a trailing space
      {address + "\n " + hash + "\n", ""},
      {address + "\n" + hash + "\r", ""},  // a "\r" without "\n" is part of the line
      {address + "\n", ""},
      {address, ""},
      {"", ""},
      {address + "\n" + recipe_hash_line("other") + "\n", ""},
      {address + " \n" + hash + "\n", address + " "},  // line 1 is taken as it stands
      {"\n" + hash + "\n", ""},
      {"https://example.org/caf\xe9\n" + hash + "\n", ""},  // not UTF-8: unreadable
  };
  for (const Case& c : cases) {
    put_file(origin_path(folder.path(), "notes"), c.origin_file);
    EXPECT_EQ(recipe_origin(folder.path(), "notes", fetched), c.origin) << c.origin_file;
  }
}

TEST_F(Origin, IsEmptyWithoutAnOriginFile) {
  EXPECT_EQ(recipe_origin(folder.path(), "notes", fetched), "");
  EXPECT_EQ(recipe_origin(folder.path() / "nowhere", "notes", fetched), "");
  EXPECT_EQ(from_catalogue(), "");
}

class KeepRecipe : public ::testing::Test {
 protected:
  std::vector<std::filesystem::path> files_in_recipes() const {
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(recipes_folder(folder.path()))) {
      names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  TestFolder folder;
};

TEST_F(KeepRecipe, StoresANewRecipeByteForByte) {
  const std::string text = sample_recipe("notes", "Notes", 40001, "\r\n");
  const auto kept = keep_recipe(text, folder.path());
  ASSERT_TRUE(kept) << kept.error();
  EXPECT_FALSE(kept->replaces);
  EXPECT_EQ(kept->recipe, read_recipe(text).value());
  EXPECT_EQ(read_file(recipe_path(folder.path(), "notes")).value(), text);
  EXPECT_EQ(files_in_recipes(), std::vector<std::filesystem::path>{"notes.yaml"});
  const RecipeCatalogue catalogue = load_catalogue(folder.path());
  EXPECT_EQ(catalogue.recipes.back().id, "notes");
}

TEST_F(KeepRecipe, ANewVersionOfAnAddedAppReplacesIt) {
  ASSERT_TRUE(keep_recipe(sample_recipe("notes", "Notes", 40001), folder.path()));
  const std::string newer = sample_recipe("notes", "Notes 2", 40001);
  const auto kept = keep_recipe(newer, folder.path());
  ASSERT_TRUE(kept) << kept.error();
  EXPECT_TRUE(kept->replaces);
  EXPECT_EQ(read_file(recipe_path(folder.path(), "notes")).value(), newer);
  EXPECT_EQ(files_in_recipes(), std::vector<std::filesystem::path>{"notes.yaml"});
}

TEST_F(KeepRecipe, ABuiltinIdIsRefusedAndNothingIsWritten) {
  const auto kept = keep_recipe(sample_recipe("n8n", "My n8n", 40001), folder.path());
  ASSERT_FALSE(kept);
  EXPECT_EQ(kept.error(), "The id \"n8n\" belongs to n8n, which is built in. Choose another id.");
  EXPECT_FALSE(std::filesystem::exists(recipes_folder(folder.path())));
}

TEST_F(KeepRecipe, AdmitsAgainstTheRecipesOnDisk) {
  put_file(recipe_path(folder.path(), "diary"), sample_recipe("diary", "Diary", 40001));
  const auto kept = keep_recipe(sample_recipe("notes", "Notes", 40001), folder.path());
  ASSERT_FALSE(kept);
  EXPECT_EQ(kept.error(), "Port 40001 is the port of Diary. Choose another one.");
  EXPECT_EQ(files_in_recipes(), std::vector<std::filesystem::path>{"diary.yaml"});
}

TEST_F(KeepRecipe, ARefusedTextWritesNothing) {
  const auto kept = keep_recipe("services:\n  - x\n", folder.path());
  ASSERT_FALSE(kept);
  EXPECT_EQ(kept.error(), read_recipe("services:\n  - x\n").error());
  EXPECT_FALSE(std::filesystem::exists(recipes_folder(folder.path())));
}

TEST_F(KeepRecipe, ARecipesFolderThatIsAFileFailsAndStaysAsItWas) {
  put_file(recipes_folder(folder.path()), "not a folder");
  const auto kept = keep_recipe(sample_recipe("notes", "Notes", 40001), folder.path());
  ASSERT_FALSE(kept);
  const std::string start =
      "The recipe could not be kept in " + path_to_utf8(recipes_folder(folder.path())) + ": ";
  EXPECT_TRUE(kept.error().starts_with(start)) << kept.error();
  EXPECT_NE(kept.error().find("(os error "), std::string::npos) << kept.error();
  EXPECT_GT(kept.error().size(), start.size() + 12) << kept.error();
  EXPECT_EQ(read_file(recipes_folder(folder.path())).value(), "not a folder");
}

TEST_F(KeepRecipe, AFileInTheWayOfTheRecipeFailsAndIsLeftAlone) {
  // A folder where the recipe file would go: the rename cannot replace it.
  put_file(recipe_path(folder.path(), "notes") / "inside", "kept");
  const auto kept = keep_recipe(sample_recipe("notes", "Notes", 40001), folder.path());
  ASSERT_FALSE(kept);
  EXPECT_TRUE(kept.error().starts_with("The recipe could not be kept in " +
                                       path_to_utf8(recipes_folder(folder.path())) + ": "))
      << kept.error();
  EXPECT_EQ(read_file(recipe_path(folder.path(), "notes") / "inside").value(), "kept");
  EXPECT_EQ(files_in_recipes(), std::vector<std::filesystem::path>{"notes.yaml"});
}

TEST_F(KeepRecipe, ForgettingTakesOutTheRecipeAndItsOriginAndNothingElse) {
  const std::string text = sample_recipe("notes", "Notes", 40001);
  ASSERT_TRUE(keep_recipe(text, folder.path()));
  ASSERT_TRUE(keep_origin(folder.path(), "notes", "https://example.org/notes.yaml", text));
  put_file(folder.path() / "apps" / "notes" / ".env", "NOTES_KEY=x\n");
  ASSERT_TRUE(forget_added_recipe(folder.path(), read_recipe(text).value()));
  EXPECT_TRUE(files_in_recipes().empty());
  EXPECT_TRUE(std::filesystem::exists(folder.path() / "apps" / "notes" / ".env"));
  // Forgetting twice finds nothing to take out, which is no failure.
  EXPECT_TRUE(forget_added_recipe(folder.path(), read_recipe(text).value()));
}

TEST_F(KeepRecipe, ARecipeThatCannotBeTakenOutStaysWithItsOrigin) {
  const std::string text = sample_recipe("notes", "Notes", 40001);
  put_file(recipe_path(folder.path(), "notes") / "inside", "kept");
  put_file(origin_path(folder.path(), "notes"), "https://example.org/notes.yaml\nabc\n");
  const auto forgotten = forget_added_recipe(folder.path(), read_recipe(text).value());
  ASSERT_FALSE(forgotten);
  EXPECT_TRUE(forgotten.error().starts_with("The recipe of Notes could not be taken out: ")) << forgotten.error();
  EXPECT_TRUE(forgotten.error().ends_with(")")) << forgotten.error();
  EXPECT_EQ(files_in_recipes(), (std::vector<std::filesystem::path>{"notes.from", "notes.yaml"}));
}

}  // namespace
}  // namespace zelk
