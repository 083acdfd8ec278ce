#include <gtest/gtest.h>

#include "apps.h"
#include "platform.h"
#include "catalogue_fixtures.h"
#include "test_folder.h"

namespace zelk {
namespace {

const std::vector<std::string> builtin_ids{"n8n", "gitea", "open-webui", "ollama"};

std::vector<std::string> ids_of(const std::vector<Recipe>& recipes) {
  std::vector<std::string> ids;
  for (const Recipe& recipe : recipes) ids.push_back(recipe.id);
  return ids;
}

std::vector<std::string> with_builtins(std::vector<std::string> added) {
  std::vector<std::string> ids = builtin_ids;
  ids.insert(ids.end(), added.begin(), added.end());
  return ids;
}

class Catalogue : public ::testing::Test {
 protected:
  std::filesystem::path recipe_file(std::string_view name) const {
    return recipes_folder(folder.path()) / path_from_utf8(name);
  }
  void add(std::string_view name, std::string_view text) const { put_file(recipe_file(name), text); }
  std::string notice(std::string_view name, std::string_view reason) const {
    return "The recipe " + path_to_utf8(recipe_file(name)) + " is not used: " + std::string(reason);
  }
  TestFolder folder;
};

TEST_F(Catalogue, WithoutARecipesFolderHoldsTheBuiltinsAlone) {
  const RecipeCatalogue catalogue = load_catalogue(folder.path());
  EXPECT_EQ(ids_of(catalogue.recipes), builtin_ids);
  EXPECT_TRUE(catalogue.notices.empty());
  EXPECT_EQ(catalogue.recipes, builtin_recipes());
}

TEST_F(Catalogue, WithAMissingDataFolderHoldsTheBuiltinsAlone) {
  const RecipeCatalogue catalogue = load_catalogue(folder.path() / "nowhere");
  EXPECT_EQ(ids_of(catalogue.recipes), builtin_ids);
  EXPECT_TRUE(catalogue.notices.empty());
}

TEST_F(Catalogue, AnAddedRecipeFollowsTheBuiltins) {
  const std::string text = sample_recipe("notes", "Notes", 40001, "\r\n");
  add("notes.yaml", text);
  const RecipeCatalogue catalogue = load_catalogue(folder.path());
  EXPECT_TRUE(catalogue.notices.empty());
  ASSERT_EQ(ids_of(catalogue.recipes), with_builtins({"notes"}));
  const Recipe& notes = catalogue.recipes.back();
  EXPECT_FALSE(notes.built_in);
  EXPECT_EQ(notes.from, "");
  Recipe read = read_recipe(text).value();
  EXPECT_EQ(notes, read);
}

TEST_F(Catalogue, AFileOfTheSizeLimitIsReadAndOneByteMoreIsNot) {
  const std::string exact = padded_to(sample_recipe("exact", "Exact", 40001), 65536);
  const std::string over = padded_to(sample_recipe("over", "Over", 40002), 65537);
  ASSERT_EQ(exact.size(), 65536U);
  ASSERT_EQ(over.size(), 65537U);
  add("exact.yaml", exact);
  add("over.yaml", over);
  const RecipeCatalogue catalogue = load_catalogue(folder.path());
  EXPECT_EQ(ids_of(catalogue.recipes), with_builtins({"exact"}));
  EXPECT_EQ(catalogue.notices,
            std::vector<std::string>{
                notice("over.yaml", "it is too large to be a recipe: a recipe has at most 64 KiB (65,536 bytes).")});
}

TEST_F(Catalogue, BytesThatAreNotUtf8GiveANotice) {
  const std::string good = sample_recipe("fine", "Fine", 40001);
  // A stray continuation byte, an overlong "/", a surrogate, a cut-off sequence, beyond U+10FFFF.
  const std::vector<std::string> bad{"\x80", "\xc0\xaf", "\xed\xa0\x80", "\xe2\x82",
                                     "\xf4\x90\x80\x80"};
  std::vector<std::string> expected;
  for (std::size_t i = 0; i < bad.size(); ++i) {
    const std::string name = "bad" + std::to_string(i) + ".yaml";
    add(name, "# " + bad[i] + "\n" + sample_recipe("bad" + std::to_string(i), "Bad", static_cast<unsigned>(41000 + i)));
    expected.push_back(notice(name, "stream did not contain valid UTF-8"));
  }
  // Well-formed text of every length is fine, in a comment and in the display name.
  add("fine.yaml", "# \xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\n" + good);
  add("named.yaml", sample_recipe("named", "Caf\xc3\xa9", 40002));
  const RecipeCatalogue catalogue = load_catalogue(folder.path());
  EXPECT_EQ(ids_of(catalogue.recipes), with_builtins({"fine", "named"}));
  EXPECT_EQ(catalogue.recipes.back().name, "Caf\xc3\xa9");
  EXPECT_EQ(catalogue.notices, expected);
}

TEST_F(Catalogue, AFileWithABuiltinIdIsNotUsed) {
  add("my-gitea.yaml", sample_recipe("gitea", "My Gitea", 40001));
  const RecipeCatalogue catalogue = load_catalogue(folder.path());
  EXPECT_EQ(ids_of(catalogue.recipes), builtin_ids);
  EXPECT_EQ(catalogue.notices,
            std::vector<std::string>{notice(
                "my-gitea.yaml",
                "The id \"gitea\" belongs to Gitea, which is built in. Choose another id.")});
}

TEST_F(Catalogue, OfTwoFilesWithOneIdTheFirstByPathWins) {
  add("b-second.yaml", sample_recipe("notes", "Second notes", 40002));
  add("a-first.yaml", sample_recipe("notes", "First notes", 40001));
  const RecipeCatalogue catalogue = load_catalogue(folder.path());
  ASSERT_EQ(ids_of(catalogue.recipes), with_builtins({"notes"}));
  EXPECT_EQ(catalogue.recipes.back().name, "First notes");
  EXPECT_EQ(catalogue.notices, std::vector<std::string>{notice(
                                   "b-second.yaml", "the id \"notes\" is in another file too.")});
}

TEST_F(Catalogue, APortClashIsRefusedWithTheEarlierAppsName) {
  add("a.yaml", sample_recipe("first", "First app", 40001));
  add("b.yaml", sample_recipe("second", "Second app", 40001));
  add("c.yaml", sample_recipe("third", "Third app", 33000));
  const RecipeCatalogue catalogue = load_catalogue(folder.path());
  EXPECT_EQ(ids_of(catalogue.recipes), with_builtins({"first"}));
  EXPECT_EQ(catalogue.notices,
            (std::vector<std::string>{
                notice("b.yaml", "Port 40001 is the port of First app. Choose another one."),
                notice("c.yaml", "Port 33000 is the port of Open WebUI. Choose another one.")}));
}

TEST_F(Catalogue, ContainerAndVolumeClashesAreRefused) {
  // "web" with the helper "db" would run torvo-web-db, the container of the app "web-db".
  add("1.yaml", sample_recipe("web-db", "Web database", 40001));
  add("2.yaml", sample_recipe_with_helper("web", "db", "Web", 40002));
  // "notes" may name a volume torvo-notes-x-data, which the app "notes-x" uses already.
  add("3.yaml", sample_recipe("notes-x", "Notes X", 40003));
  add("4.yaml", sample_recipe_with_volume("notes", "torvo-notes-x-data", "Notes", 40004));
  const RecipeCatalogue catalogue = load_catalogue(folder.path());
  EXPECT_EQ(ids_of(catalogue.recipes), with_builtins({"web-db", "notes-x"}));
  EXPECT_EQ(catalogue.notices,
            (std::vector<std::string>{
                notice("2.yaml",
                       "The container \"torvo-web-db\" would also be a container of Web "
                       "database. Choose another id, or another name for the helper."),
                notice("4.yaml",
                       "The volume \"torvo-notes-x-data\" is a volume of Notes X. Choose another "
                       "id, or another name for the volume.")}));
}

TEST_F(Catalogue, ARecipeTheReaderRefusesGivesItsMessage) {
  add("empty.yaml", "# nothing here\n");
  const RecipeCatalogue catalogue = load_catalogue(folder.path());
  EXPECT_EQ(ids_of(catalogue.recipes), builtin_ids);
  EXPECT_EQ(catalogue.notices, std::vector<std::string>{notice("empty.yaml", "The file is empty.")});
}

TEST_F(Catalogue, OnlyFilesEndingInDotYamlAreRead) {
  add("a.yml", sample_recipe("a-yml", "A", 40001));
  add("b.md", sample_recipe("b-md", "B", 40002));
  add(".yaml", sample_recipe("hidden", "C", 40003));
  add("d.YAML", sample_recipe("upper", "D", 40004));
  add("yaml", sample_recipe("bare", "E", 40005));
  add("f.yaml.tmp0", sample_recipe("temporary", "F", 40006));
  add("g.yaml.bak", sample_recipe("backup", "G", 40007));
  add("broken.from", "not a recipe");
  add("h.yaml", sample_recipe("taken", "H", 40008));
  const RecipeCatalogue catalogue = load_catalogue(folder.path());
  EXPECT_EQ(ids_of(catalogue.recipes), with_builtins({"taken"}));
  EXPECT_TRUE(catalogue.notices.empty()) << catalogue.notices.front();
}

TEST_F(Catalogue, FilesAreReadInTheOrderOfTheirNamesAsBytes) {
  // No two names differ only in case: some file systems would take them for one file.
  add("c.yaml", sample_recipe("c-lower", "c", 40001));
  add("B.yaml", sample_recipe("b-upper", "B", 40002));
  add("\xc3\xa9.yaml", sample_recipe("e-accent", "E", 40003));
  add("a.yaml", sample_recipe("a-lower", "a", 40004));
  add("z.yaml", sample_recipe("z-lower", "z", 40005));
  add("_.yaml", sample_recipe("underscore", "_", 40006));
  const RecipeCatalogue catalogue = load_catalogue(folder.path());
  EXPECT_TRUE(catalogue.notices.empty());
  EXPECT_EQ(ids_of(catalogue.recipes),
            with_builtins({"b-upper", "underscore", "a-lower", "c-lower", "z-lower", "e-accent"}));
}

TEST_F(Catalogue, AFolderNamedLikeARecipeGivesTheSystemsText) {
  std::filesystem::create_directories(recipe_file("folder.yaml"));
  const RecipeCatalogue catalogue = load_catalogue(folder.path());
  EXPECT_EQ(ids_of(catalogue.recipes), builtin_ids);
  ASSERT_EQ(catalogue.notices.size(), 1U);
  EXPECT_TRUE(catalogue.notices[0].starts_with(notice("folder.yaml", "")))
      << catalogue.notices[0];
  EXPECT_NE(catalogue.notices[0].find("(os error "), std::string::npos) << catalogue.notices[0];
}

TEST(Admission, ReplacesAnAddedAppOfTheSameIdEvenOnItsPort) {
  std::vector<Recipe> known = builtin_recipes();
  known.push_back(read_recipe(sample_recipe("notes", "Notes", 40001)).value());
  const auto same_port = admit_recipe(sample_recipe("notes", "Notes 2", 40001), known);
  ASSERT_TRUE(same_port) << same_port.error();
  EXPECT_TRUE(same_port->replaces);
  EXPECT_EQ(same_port->recipe.name, "Notes 2");
  const auto other_port = admit_recipe(sample_recipe("notes", "Notes 3", 40002), known);
  ASSERT_TRUE(other_port) << other_port.error();
  EXPECT_TRUE(other_port->replaces);
  const auto new_app = admit_recipe(sample_recipe("diary", "Diary", 40003), known);
  ASSERT_TRUE(new_app) << new_app.error();
  EXPECT_FALSE(new_app->replaces);
  EXPECT_FALSE(new_app->recipe.built_in);
}

TEST(Admission, RefusesTheFirstClashInTheOrderOfTheKnownApps) {
  std::vector<Recipe> known = builtin_recipes();
  known.push_back(read_recipe(sample_recipe("web-db", "Web database", 40001)).value());
  known.push_back(read_recipe(sample_recipe("other", "Other", 40002)).value());
  struct Case {
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases{
      {sample_recipe("ollama", "Mine", 40009),
       "The id \"ollama\" belongs to Ollama, which is built in. Choose another id."},
      {sample_recipe("mine", "Mine", 31434),
       "Port 31434 is the port of Ollama. Choose another one."},
      {sample_recipe("mine", "Mine", 40002), "Port 40002 is the port of Other. Choose another one."},
      {sample_recipe_with_helper("web", "db", "Web", 40009),
       "The container \"torvo-web-db\" would also be a container of Web database. Choose another "
       "id, or another name for the helper."},
      {sample_recipe_with_volume("open", "torvo-open-webui-data", "Mine", 40009),
       "The volume \"torvo-open-webui-data\" is a volume of Open WebUI. Choose another id, or "
       "another name for the volume."},
      // The port clash with Ollama comes before the container clash with a later app.
      {sample_recipe_with_helper("web", "db", "Web", 31434),
       "Port 31434 is the port of Ollama. Choose another one."},
  };
  for (const Case& c : cases) {
    const auto admission = admit_recipe(c.text, known);
    ASSERT_FALSE(admission) << c.text;
    EXPECT_EQ(admission.error(), c.message);
  }
}

TEST(Admission, RefusesATextOverTheLimitBeforeReadingIt) {
  const std::string over = padded_to(sample_recipe("big", "Big", 40001), 65537);
  const auto admission = admit_recipe(over, builtin_recipes());
  ASSERT_FALSE(admission);
  EXPECT_EQ(admission.error(), "This is too large to be a recipe.");
  const auto garbage = admit_recipe(std::string(65537, '\t'), builtin_recipes());
  ASSERT_FALSE(garbage);
  EXPECT_EQ(garbage.error(), "This is too large to be a recipe.");
  const auto exact = admit_recipe(padded_to(sample_recipe("big", "Big", 40001), 65536),
                                  builtin_recipes());
  EXPECT_TRUE(exact) << exact.error();
}

TEST(Admission, GivesTheReadersMessageUnchanged) {
  const auto admission = admit_recipe("x-zelk:\n  format: 3\n", builtin_recipes());
  ASSERT_FALSE(admission);
  EXPECT_EQ(admission.error(), read_recipe("x-zelk:\n  format: 3\n").error());
  EXPECT_EQ(admission.error(), "x-zelk: this Zelk reads formats 1 and 2; the file says format 3.");
}

TEST(FindApp, FindsTheFirstRecipeWithTheId) {
  std::vector<Recipe> recipes = builtin_recipes();
  recipes.push_back(read_recipe(sample_recipe("notes", "Notes", 40001)).value());
  const auto found = find_app(recipes, "notes");
  ASSERT_TRUE(found);
  EXPECT_EQ(*found, &recipes.back());
  EXPECT_EQ(find_app(recipes, "gitea").value(), &recipes[1]);
}

TEST(FindApp, AnUnknownIdListsEveryIdInCatalogueOrder) {
  TestFolder folder;
  put_file(recipes_folder(folder.path()) / "z.yaml", sample_recipe("notes", "Notes", 40001));
  put_file(recipes_folder(folder.path()) / "a.yaml", sample_recipe("diary", "Diary", 40002));
  const RecipeCatalogue catalogue = load_catalogue(folder.path());
  const auto found = find_app(catalogue.recipes, "Gitea");
  ASSERT_FALSE(found);
  EXPECT_EQ(found.error(),
            "Unknown app \"Gitea\". Choose: n8n, gitea, open-webui, ollama, diary, notes.");
}

}  // namespace
}  // namespace zelk
