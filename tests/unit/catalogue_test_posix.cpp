// The recipes folder may hold an entry whose name cannot be read as text (bytes that are not
// UTF-8 here, a lone surrogate on Windows): that entry is skipped, and every other file is
// loaded as it would be without it.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "apps.h"
#include "catalogue_fixtures.h"
#include "platform.h"
#include "scoped_env.h"
#include "test_folder.h"
#include "update.h"
#include "addresses.h"

namespace zelk {
namespace {

namespace fs = std::filesystem;

TEST(CatalogueEntries, AnEntryWhoseNameIsNotTextIsSkippedAndTheRestLoad) {
  TestFolder home;
  const fs::path recipes = home.path() / "recipes";
  // Sorted as bytes, the unreadable names come before, between and after the good ones.
  put_file(recipes / "\x01\xff.yaml", sample_recipe("first", "First", 34560));
  put_file(recipes / "a.yaml", sample_recipe("alpha", "Alpha", 34561));
  put_file(recipes / "b\xc3\x28.yaml", sample_recipe("broken", "Broken", 34562));
  put_file(recipes / "c.yaml", sample_recipe("gamma", "Gamma", 34563));
  put_file(recipes / "\xfe\xfe.yaml", sample_recipe("last", "Last", 34564));
  put_file(recipes / "\xfe\xfe.yaml.more", "not a recipe");
  const RecipeCatalogue catalogue = load_catalogue(home.path());
  EXPECT_EQ(catalogue.notices, std::vector<std::string>{});
  std::vector<std::string> added;
  for (const Recipe& recipe : catalogue.recipes) {
    if (!recipe.built_in) added.push_back(recipe.id);
  }
  EXPECT_EQ(added, (std::vector<std::string>{"alpha", "gamma"}));
}

TEST(CatalogueEntries, AnUpdateAddressThatIsNotUtf8CountsAsUnset) {
  ScopedEnv address("ZELK_UPDATE_ADDRESS", "https://example.org/\xff/latest.txt");
  EXPECT_EQ(update_list_address(), builtin_update_list_address);
  EXPECT_EQ(get_unicode_env("ZELK_UPDATE_ADDRESS"), std::nullopt);
  EXPECT_EQ(get_env("ZELK_UPDATE_ADDRESS"), "https://example.org/\xff/latest.txt");
}

}  // namespace
}  // namespace zelk
