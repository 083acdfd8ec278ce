#include <gtest/gtest.h>

#include <string>

#include "recipe.h"
#include "sample_recipes.h"

namespace zelk {
namespace {

std::string changed(std::string text, std::string_view from, std::string_view to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

std::string described(const std::string& text) {
  const auto recipe = read_recipe(text);
  EXPECT_TRUE(recipe) << recipe.error();
  return recipe ? describe_recipe(*recipe) : "";
}

TEST(DescribeRecipe, AppWithHelpersSecretsSettingsAndAUsedApp) {
  std::string text(samples::wiki_recipe);
  text = changed(text, "      - own\n", "      - own\n      - ai\n");
  text = changed(text, "    name: torvo-wiki\n",
                 "    name: torvo-wiki\n  ai:\n    name: torvo-ollama\n    external: true\n");
  EXPECT_EQ(described(text),
            "Wiki caf\xC3\xA9 (Knowledge)\n"
            "  A wiki for your own notes.\n"
            "  Image:    ghcr.io/example/wiki:2.0.1\n"
            "  or from:  docker.io/example/wiki:2.0.1\n"
            "  Helper:   db, from registry.example.org:5000/library/postgres:16.4 (not published on this "
            "computer; this app reaches it over their own network)\n"
            "  Helper:   indexer, from docker.io/example/indexer@sha256:"
            "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef (not published on "
            "this computer; this app reaches it over their own network)\n"
            "  Helper:   cache, from docker.io/library/redis:7.4 (not published on this computer; this app "
            "reaches it over their own network)\n"
            "  Address:  http://127.0.0.1:33100/start (this computer only)\n"
            "  Data:     torvo-wiki-files, inside the app at /srv/files\n"
            "  Data:     torvo-wiki-files, inside the app at /srv/backup\n"
            "  Data:     torvo-wiki-db, inside db at /var/lib/postgresql/data\n"
            "  Data:     torvo-wiki-index-2, inside indexer at /index\n"
            "  Network:  torvo-wiki (an app whose recipe names it reaches this one there)\n"
            "  Reaches:  the app \"ollama\", over its network torvo-ollama\n"
            "  Secrets:  DB_PASSWORD, INDEX_TOKEN (made on this computer at the first start)");
}

TEST(DescribeRecipe, AppThatDoesNotStartTheAppItReaches) {
  EXPECT_EQ(described(std::string(samples::notes_recipe)),
            "Notes (Writing)\n"
            "  Keep notes in your browser.\n"
            "  Image:    docker.io/example/notes:1.4.2\n"
            "  Address:  http://127.0.0.1:34567/ (this computer only)\n"
            "  Data:     torvo-notes-data, inside the app at /var/lib/notes\n"
            "  Reaches:  the app \"ollama\", over its network torvo-ollama, once it runs\n"
            "  Secrets:  NOTES_KEY (made on this computer at the first start)");
}

TEST(DescribeRecipe, APathTheAuthorWroteIsShownAsText) {
  std::string text(samples::notes_recipe);
  text = changed(text, "data:/var/lib/notes", "\"data:/var/lib/notes\x1b[2K\rzelk add \xe2\x80\xaex\"");
  const std::string description = described(text);
  EXPECT_NE(description.find("  Data:     torvo-notes-data, inside the app at /var/lib/notes\\x1b[2K\\rzelk add "
                             "\\u202ex\n"),
            std::string::npos)
      << description;
}

TEST(DescribeRecipe, AppWithoutVolumesKeepsNoData) {
  const std::string text =
      "services:\n"
      "  app:\n"
      "    image: example/app:1\n"
      "    ports:\n"
      "      - 127.0.0.1:${TORVO_PORT}:80\n"
      "x-zelk:\n"
      "  format: 1\n"
      "  id: app\n"
      "  name: App\n"
      "  category: Tools\n"
      "  summary: An app.\n"
      "  port: 4000\n"
      "  ready: /\n"
      "  open: /welcome\n";
  EXPECT_EQ(described(text),
            "App (Tools)\n"
            "  An app.\n"
            "  Image:    example/app:1\n"
            "  Address:  http://127.0.0.1:4000/welcome (this computer only)\n"
            "  Data:     none is kept");
}

TEST(DescribeRecipe, HelperDataAloneIsKeptData) {
  std::string text(samples::wiki_recipe);
  text = changed(text, "    volumes:\n      - files:/srv/files\n      - files:/srv/backup\n", "");
  text = changed(text, "  files:\n    name: torvo-wiki-files\n", "");
  const std::string description = described(text);
  EXPECT_EQ(description.find("none is kept"), std::string::npos) << description;
  EXPECT_NE(description.find("  Data:     torvo-wiki-db, inside db at /var/lib/postgresql/data\n"),
            std::string::npos)
      << description;
}

}  // namespace
}  // namespace zelk
