#include "recipe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sample_recipes.h"

namespace zelk {
namespace {

EnvValue text_value(std::string text) {
  EnvValue value;
  value.text = std::move(text);
  return value;
}

EnvValue port_value(std::string before, std::string after) {
  EnvValue value;
  value.kind = EnvValue::Kind::Port;
  value.before = std::move(before);
  value.after = std::move(after);
  return value;
}

EnvValue setting_value(std::string name, std::string default_value) {
  EnvValue value;
  value.kind = EnvValue::Kind::Setting;
  value.name = std::move(name);
  value.default_value = std::move(default_value);
  return value;
}

EnvValue secret_value(std::string name, std::uint32_t length) {
  EnvValue value;
  value.kind = EnvValue::Kind::Secret;
  value.name = std::move(name);
  value.length = length;
  return value;
}

EnvPart text_part(std::string text) {
  return EnvPart{EnvPart::Kind::Text, std::move(text), {}, {}, 0};
}
EnvPart port_part() { return EnvPart{EnvPart::Kind::Port, {}, {}, {}, 0}; }
EnvPart setting_part(std::string name, std::string default_value) {
  return EnvPart{EnvPart::Kind::Setting, {}, std::move(name), std::move(default_value), 0};
}
EnvPart secret_part(std::string name, std::uint32_t length) {
  return EnvPart{EnvPart::Kind::Secret, {}, std::move(name), {}, length};
}

EnvValue parts_value(std::vector<EnvPart> parts) {
  EnvValue value;
  value.kind = EnvValue::Kind::Parts;
  value.parts = std::move(parts);
  return value;
}

/// The text with its one occurrence of `from` replaced by `to`.
std::string changed(std::string_view text, std::string_view from, std::string_view to) {
  std::string result(text);
  const std::size_t at = result.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  EXPECT_EQ(result.find(from, at + 1), std::string::npos) << "twice: " << from;
  if (at != std::string::npos) result.replace(at, from.size(), to);
  return result;
}

/// The message read_recipe gives, or "(accepted)".
std::string message_of(std::string_view text) {
  const auto recipe = read_recipe(text);
  return recipe ? "(accepted)" : recipe.error();
}

Recipe read_ok(std::string_view text) {
  auto recipe = read_recipe(text);
  EXPECT_TRUE(recipe) << recipe.error();
  return recipe ? *recipe : Recipe{};
}

TEST(ReadRecipe, OneContainerAppIsReadFieldByField) {
  const Recipe recipe = read_ok(samples::notes_recipe);
  EXPECT_EQ(recipe.lesson, "https://example.org/notes");
  EXPECT_EQ(recipe.fallback_image, std::nullopt);
  EXPECT_EQ(recipe.network, std::nullopt);
  EXPECT_EQ(recipe.from, "");
  EXPECT_EQ(recipe.id, "notes");
  EXPECT_EQ(recipe.name, "Notes");
  EXPECT_EQ(recipe.category, "Writing");
  EXPECT_EQ(recipe.summary, "Keep notes in your browser.");
  EXPECT_EQ(recipe.ready, "/health");
  EXPECT_EQ(recipe.open, "/");
  EXPECT_EQ(recipe.container, "torvo-notes");
  EXPECT_EQ(recipe.image, "docker.io/example/notes:1.4.2");
  EXPECT_EQ(recipe.command, std::vector<std::string>{});
  const std::vector<RecipeEnv> environment = {
      {"NOTES_PORT", text_value("8080")},
      {"NOTES_URL", port_value("http://localhost:", "/")},
      {"NOTES_KEY", secret_value("NOTES_KEY", 32)},
      {"NOTES_ZONE", setting_value("NOTES_ZONE", "Europe/Berlin")},
      {"NOTES_PRICE", text_value("a$b")},
      {"NOTES_EMPTY", text_value("")},
  };
  EXPECT_EQ(recipe.environment, environment);
  EXPECT_EQ(recipe.volumes, (std::vector<RecipeMount>{{"torvo-notes-data", "/var/lib/notes"}}));
  EXPECT_EQ(recipe.uses, std::vector<std::string>{"ollama"});
  EXPECT_TRUE(recipe.helpers.empty());
  EXPECT_EQ(recipe.settings,
            "# Settings of Notes. The Zelk reads this file when it starts the app.\n"
            "TORVO_PORT=34567\n"
            "NOTES_KEY=\n"
            "NOTES_ZONE=Europe/Berlin\n");
  EXPECT_EQ(recipe.disk_mb, 300u);
  EXPECT_EQ(recipe.port, 34567);
  EXPECT_EQ(recipe.inner_port, 8080);
  EXPECT_FALSE(recipe.built_in);
  EXPECT_FALSE(recipe.starts_used);
  EXPECT_EQ(container_names(recipe), std::vector<std::string>{"torvo-notes"});
  EXPECT_EQ(volume_names(recipe), std::vector<std::string>{"torvo-notes-data"});
}

TEST(ReadRecipe, AppWithHelpersIsReadFieldByField) {
  const Recipe recipe = read_ok(samples::wiki_recipe);
  EXPECT_EQ(recipe.lesson, std::nullopt);
  EXPECT_EQ(recipe.fallback_image, "docker.io/example/wiki:2.0.1");
  EXPECT_EQ(recipe.network, "torvo-wiki");
  EXPECT_EQ(recipe.id, "wiki");
  EXPECT_EQ(recipe.name, "Wiki caf\xC3\xA9");
  EXPECT_EQ(recipe.category, "Knowledge");
  EXPECT_EQ(recipe.ready, "/api/health");
  EXPECT_EQ(recipe.open, "/start");
  EXPECT_EQ(recipe.container, "torvo-wiki");
  EXPECT_EQ(recipe.image, "ghcr.io/example/wiki:2.0.1");
  EXPECT_EQ(recipe.command, (std::vector<std::string>{"wiki", "--serve"}));
  const std::vector<RecipeEnv> environment = {
      {"DB_URL", parts_value({text_part("postgres://wiki:"), secret_part("DB_PASSWORD", 24),
                              text_part("@db:5432/"), setting_part("WIKI_DB", "wiki")})},
      {"WIKI_TITLE", setting_value("WIKI_TITLE", "My wiki")},
      {"WIKI_ADDRESS",
       parts_value({text_part("http://127.0.0.1:"), port_part(), setting_part("WIKI_BASE", "/")})},
  };
  EXPECT_EQ(recipe.environment, environment);
  EXPECT_EQ(recipe.volumes, (std::vector<RecipeMount>{{"torvo-wiki-files", "/srv/files"},
                                                      {"torvo-wiki-files", "/srv/backup"}}));
  EXPECT_TRUE(recipe.uses.empty());
  EXPECT_TRUE(recipe.starts_used);
  EXPECT_EQ(recipe.port, 33100);
  EXPECT_EQ(recipe.inner_port, 3000);
  EXPECT_EQ(recipe.disk_mb, 0u);

  // Start order: "db" before the app that needs it; "indexer" needs the app and "cache"
  // needs "indexer", so both start after the app.
  const std::vector<RecipeService> helpers = {
      {"db",
       "torvo-wiki-db",
       "registry.example.org:5000/library/postgres:16.4",
       {},
       {{"POSTGRES_PASSWORD", secret_value("DB_PASSWORD", 24)},
        {"POSTGRES_DB", setting_value("WIKI_DB", "other")},
        {"PGDATA", text_value("/var/lib/postgresql/data/pg")}},
       {{"torvo-wiki-db", "/var/lib/postgresql/data"}},
       false},
      {"indexer",
       "torvo-wiki-indexer",
       "docker.io/example/indexer@sha256:0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef",
       {},
       {{"WIKI_TITLE", setting_value("WIKI_TITLE", "Other title")},
        {"INDEX_TOKEN", secret_value("INDEX_TOKEN", 16)}},
       {{"torvo-wiki-index-2", "/index"}},
       true},
      {"cache", "torvo-wiki-cache", "docker.io/library/redis:7.4", {"redis-server"}, {}, {}, true},
  };
  ASSERT_EQ(recipe.helpers.size(), helpers.size());
  for (std::size_t i = 0; i < helpers.size(); ++i) {
    EXPECT_EQ(recipe.helpers[i], helpers[i]) << "helper " << i << ": " << recipe.helpers[i].name;
  }
  // Secrets first, then each setting once with the first default met: the app's before the
  // helpers'.
  EXPECT_EQ(recipe.settings,
            "# Settings of Wiki caf\xC3\xA9. The Zelk reads this file when it starts the app.\n"
            "TORVO_PORT=33100\n"
            "DB_PASSWORD=\n"
            "INDEX_TOKEN=\n"
            "WIKI_DB=wiki\n"
            "WIKI_TITLE=My wiki\n"
            "WIKI_BASE=/\n");
  EXPECT_EQ(container_names(recipe),
            (std::vector<std::string>{"torvo-wiki", "torvo-wiki-db", "torvo-wiki-indexer",
                                      "torvo-wiki-cache"}));
  EXPECT_EQ(volume_names(recipe),
            (std::vector<std::string>{"torvo-wiki-files", "torvo-wiki-files", "torvo-wiki-db",
                                      "torvo-wiki-index-2"}));
}

TEST(ReadRecipe, SettingsOfARecipeWithoutSecretsOrSettingsAreTwoLines) {
  std::string text = changed(samples::notes_recipe, "      NOTES_KEY: ${NOTES_KEY}\n", "");
  text = changed(text, "      NOTES_ZONE: ${NOTES_ZONE:-Europe/Berlin}\n", "");
  text = changed(text, "  secrets:\n    NOTES_KEY: 32\n", "");
  EXPECT_EQ(read_ok(text).settings,
            "# Settings of Notes. The Zelk reads this file when it starts the app.\n"
            "TORVO_PORT=34567\n");
}

TEST(ReadRecipe, HelperNamesOfTwoLettersADashAndADigitOrOfTwentyBytesPass) {
  for (const std::string_view name : {"ab-1", "c", "abcdefghij-abcdefghi"}) {
    const Recipe recipe =
        read_ok(changed(samples::wiki_recipe, "  cache:\n", "  " + std::string(name) + ":\n"));
    ASSERT_EQ(recipe.helpers.size(), 3u);
    EXPECT_EQ(recipe.helpers[2].name, name);
    EXPECT_EQ(recipe.helpers[2].container, "torvo-wiki-" + std::string(name));
  }
}

TEST(ReadRecipe, SingleServiceMayHaveAnyKeyAndIsStillTheApp) {
  std::string text = changed(samples::notes_recipe, "  notes:\n    image", "  main:\n    image");
  text = changed(text, "    container_name: torvo-notes\n", "");
  text = changed(text, "format: 1", "format: 2");
  const Recipe recipe = read_ok(text);
  EXPECT_EQ(recipe.container, "torvo-notes");
  EXPECT_TRUE(recipe.helpers.empty());
}

TEST(ReadRecipe, StartsUsedDefaultsToTrueWithOrWithoutAnotherAppsNetwork) {
  EXPECT_TRUE(read_ok(changed(samples::notes_recipe, "  starts-used: false\n", "")).starts_used);
  EXPECT_TRUE(read_ok(changed(samples::notes_recipe, "starts-used: false", "starts-used: true"))
                  .starts_used);
  std::string alone = changed(samples::notes_recipe, "  starts-used: false\n", "");
  alone = changed(alone, "    networks:\n      - models\n", "");
  alone = changed(alone, "networks:\n  models:\n    name: torvo-ollama\n    external: true\n", "");
  const Recipe recipe = read_ok(alone);
  EXPECT_TRUE(recipe.starts_used);
  EXPECT_TRUE(recipe.uses.empty());
}

TEST(ReadRecipe, AcceptedVariants) {
  struct Edit {
    std::string_view from;
    std::string_view to;
  };
  struct Variant {
    const char* title;
    std::vector<Edit> edits;
  };
  const Variant variants[] = {
      {"port 1024", {{"port: 34567", "port: 1024"}}},
      {"port 65535", {{"port: 34567", "port: 65535"}}},
      {"port with a plus", {{"port: 34567", "port: +8080"}}},
      {"id of a letter and a digit",
       {{"name: torvo-notes\nservices", "services"},
        {"    container_name: torvo-notes\n", ""},
        {"name: torvo-notes-data", "name: torvo-a1-data"},
        {"id: notes", "id: a1"}}},
      {"secret of 16", {{"NOTES_KEY: 32", "NOTES_KEY: 16"}}},
      {"secret of 64", {{"NOTES_KEY: 32", "NOTES_KEY: +64"}}},
      {"disk of 1", {{"disk-mb: 300", "disk-mb: 1"}}},
      {"disk of 200000", {{"disk-mb: 300", "disk-mb: 200000"}}},
      {"x-podman of any content",
       {{"x-zelk:\n", "x-podman:\n  anything:\n    - at all\nx-zelk:\n"}}},
      {"top-level name left out", {{"name: torvo-notes\nservices", "services"}}},
      {"restart left out", {{"    restart: unless-stopped\n", ""}}},
      {"image by digest",
       {{"notes:1.4.2", "notes@sha256:0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"}}},
      {"registry port is no tag",
       {{"docker.io/example/notes:1.4.2", "localhost:5000/example/notes:1.4.2"}}},
      {"volume path with dots inside names",
       {{"data:/var/lib/notes", "data:/var/lib/..notes../x"}}},
      {"network external left out is this app's own",
       {{"    name: torvo-ollama\n    external: true\n", "    name: torvo-notes\n"},
        {"  starts-used: false\n", ""}}},
      {"empty environment value", {{"NOTES_PORT: \"8080\"", "NOTES_PORT: \"\""}}},
  };
  for (const Variant& variant : variants) {
    std::string text(samples::notes_recipe);
    for (const Edit& edit : variant.edits) text = changed(text, edit.from, edit.to);
    const auto recipe = read_recipe(text);
    EXPECT_TRUE(recipe) << variant.title << ": " << recipe.error();
  }
}

std::string repeated(std::string_view piece, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += piece;
  return text;
}

TEST(ReadRecipe, LimitsCountCharactersForTextsAndBytesForAddresses) {
  const std::string e_acute = "\xC3\xA9";
  const std::string name = repeated(e_acute, 40);
  EXPECT_EQ(read_ok(changed(samples::notes_recipe, "name: Notes", "name: " + name)).name, name);
  EXPECT_EQ(message_of(changed(samples::notes_recipe, "name: Notes", "name: " + name + "x")),
            "x-zelk: \"name\" is longer than 40 characters.");
  const std::string category = repeated(e_acute, 30);
  EXPECT_EQ(read_ok(changed(samples::notes_recipe, "category: Writing", "category: " + category))
                .category,
            category);
  EXPECT_EQ(message_of(
                changed(samples::notes_recipe, "category: Writing", "category: " + category + "x")),
            "x-zelk: \"category\" is longer than 30 characters.");
  const std::string summary = repeated("\xE2\x82\xAC", 160);  // the euro sign, 3 bytes
  EXPECT_EQ(read_ok(changed(samples::notes_recipe, "summary: Keep notes in your browser.",
                            "summary: " + summary))
                .summary,
            summary);
  EXPECT_EQ(message_of(changed(samples::notes_recipe, "summary: Keep notes in your browser.",
                               "summary: " + summary + "x")),
            "x-zelk: \"summary\" is longer than 160 characters.");
  const std::string lesson = "https://example.org/" + std::string(180, 'a');
  EXPECT_EQ(read_ok(changed(samples::notes_recipe, "lesson: https://example.org/notes",
                            "lesson: " + lesson))
                .lesson,
            lesson);
  EXPECT_EQ(message_of(changed(samples::notes_recipe, "lesson: https://example.org/notes",
                               "lesson: " + lesson + "a")),
            "x-zelk: \"lesson\" is a web address that starts with https://.");
  const std::string ready = "/" + std::string(199, 'r');
  EXPECT_EQ(read_ok(changed(samples::notes_recipe, "ready: /health", "ready: " + ready)).ready,
            ready);
  EXPECT_EQ(message_of(changed(samples::notes_recipe, "ready: /health", "ready: " + ready + "r")),
            "x-zelk: \"ready\" is a path on the app's own address, for example \"/\" or "
            "\"/health\".");
}

TEST(ReadRecipe, NumbersAndPathsAreStoredAsRead) {
  EXPECT_EQ(read_ok(changed(samples::notes_recipe, "port: 34567", "port: +8080")).port, 8080);
  EXPECT_EQ(read_ok(changed(samples::notes_recipe, "disk-mb: 300", "disk-mb: +1200")).disk_mb,
            1200u);
  EXPECT_EQ(read_ok(changed(samples::notes_recipe, "  disk-mb: 300\n", "")).disk_mb, 0u);
  EXPECT_EQ(
      read_ok(changed(samples::notes_recipe, "  lesson: https://example.org/notes\n", "")).lesson,
      std::nullopt);
  EXPECT_EQ(
      read_ok(changed(samples::notes_recipe, "ready: /health", "ready: /health\n  open: /a?b=c"))
          .open,
      "/a?b=c");
  EXPECT_EQ(read_ok(changed(samples::notes_recipe, "127.0.0.1:${TORVO_PORT}:8080",
                            "127.0.0.1:${TORVO_PORT}:1"))
                .inner_port,
            1);
  EXPECT_EQ(read_ok(changed(samples::notes_recipe, "127.0.0.1:${TORVO_PORT}:8080",
                            "127.0.0.1:${TORVO_PORT}:65535"))
                .inner_port,
            65535);
}

TEST(ReadRecipe, IndentedTopLevelAndCrLfLineEndsReadTheSame) {
  std::string indented;
  std::string crlf;
  for (std::size_t start = 0; start < samples::notes_recipe.size();) {
    const std::size_t end = samples::notes_recipe.find('\n', start);
    const std::string_view line = samples::notes_recipe.substr(start, end - start);
    indented += "  " + std::string(line) + "\n";
    crlf += std::string(line) + "\r\n";
    start = end + 1;
  }
  EXPECT_EQ(read_ok(indented), read_ok(samples::notes_recipe));
  EXPECT_EQ(read_ok(crlf), read_ok(samples::notes_recipe));
}

TEST(ReadRecipe, AnotherAppsNetworkAddsItsIdToUsesInOrder) {
  std::string text =
      changed(samples::notes_recipe, "      - models\n", "      - models\n      - store\n");
  text = changed(text, "    external: true\n",
                 "    external: true\n  store:\n    external: \"true\"\n    name: torvo-files\n");
  EXPECT_EQ(read_ok(text).uses, (std::vector<std::string>{"ollama", "files"}));
}

TEST(EnvSecrets, SecretPartsAndSecretValuesAreListedInOrder) {
  EXPECT_EQ(env_secrets(secret_value("A", 20)),
            (std::vector<std::pair<std::string, std::uint32_t>>{{"A", 20}}));
  EXPECT_EQ(env_secrets(parts_value({secret_part("B", 16), text_part("-"), setting_part("C", ""),
                                     port_part(), secret_part("D", 64)})),
            (std::vector<std::pair<std::string, std::uint32_t>>{{"B", 16}, {"D", 64}}));
  EXPECT_TRUE(env_secrets(text_value("x")).empty());
  EXPECT_TRUE(env_secrets(setting_value("S", "d")).empty());
  EXPECT_TRUE(env_secrets(port_value("", "")).empty());
}

}  // namespace
}  // namespace zelk
