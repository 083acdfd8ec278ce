#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "apps.h"
#include "files.h"
#include "platform.h"

namespace zelk {
namespace {

std::filesystem::path source_file(std::string_view relative) {
  return path_from_utf8(ZELK_SOURCE_DIR) / path_from_utf8(relative);
}

TEST(BuiltinRecipeTexts, AreTheFilesBesideTheCodeByteForByte) {
  const std::array<std::string_view, 4> files{"n8n.yaml", "gitea.yaml", "open-webui.yaml",
                                              "ollama.yaml"};
  const auto texts = builtin_recipe_texts();
  ASSERT_EQ(texts.size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto source =
        read_file(source_file("src/zelk-core/src/builtin") / path_from_utf8(files[i]));
    ASSERT_TRUE(source) << source.error();
    EXPECT_EQ(texts[i], *source) << files[i];
  }
}

TEST(BuiltinRecipeTexts, EndEveryLineWithCarriageReturnAndLineFeed) {
  for (std::string_view text : builtin_recipe_texts()) {
    ASSERT_TRUE(text.ends_with("\r\n"));
    std::size_t lines = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n') {
        ++lines;
        EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "line " << lines << " of\n" << text;
      }
      if (text[i] == '\r') {
        EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n');
      }
    }
    EXPECT_GT(lines, 30U);
  }
}

TEST(BuiltinRecipeTexts, BeginWithTwoCommentLinesPointingToTheGuide) {
  for (std::string_view text : builtin_recipe_texts()) {
    const std::size_t first_end = text.find("\r\n");
    const std::size_t second_end = text.find("\r\n", first_end + 2);
    const std::string_view first = text.substr(0, first_end);
    const std::string_view second = text.substr(first_end + 2, second_end - first_end - 2);
    EXPECT_TRUE(first.starts_with("# ")) << first;
    EXPECT_NE(first.find("image"), std::string_view::npos) << first;
    EXPECT_TRUE(second.starts_with("# ")) << second;
    EXPECT_NE(second.find("built into Zelk"), std::string_view::npos) << second;
    EXPECT_NE(second.find("docs/making-an-app.md"), std::string_view::npos) << second;
    EXPECT_TRUE(text.substr(second_end + 2).starts_with("name: torvo-"));
  }
  EXPECT_TRUE(std::filesystem::is_regular_file(source_file("docs/making-an-app.md")));
}

// What the recipe reader made of each text, field by field.
struct Expected {
  std::string_view id;
  std::string_view name;
  std::string_view category;
  std::string_view summary;
  std::uint16_t port;
  std::uint16_t inner_port;
  std::string_view ready;
  std::uint32_t disk_mb;
  std::string_view image;
  std::optional<std::string> fallback_image;
  std::vector<RecipeMount> volumes;
  std::optional<std::string> network;
  std::vector<std::string> uses;
  bool starts_used;
  std::string_view settings;
};

const std::vector<Expected>& expected_builtins() {
  static const std::vector<Expected> all{
      {"n8n", "n8n", "Automation", "Build dependable workflows that connect your tools and data.",
       35678, 5678, "/", 1200, "docker.io/n8nio/n8n:2.40.7",
       std::string("docker.n8n.io/n8nio/n8n:2.40.7"),
       {{"torvo-n8n-data", "/home/node/.n8n"}}, std::nullopt, {"ollama"}, false,
       "# Settings of n8n. The Zelk reads this file when it starts the app.\n"
       "TORVO_PORT=35678\nN8N_ENCRYPTION_KEY=\nGENERIC_TIMEZONE=Europe/Berlin\n"},
      {"gitea", "Gitea", "Git server",
       "Host local Git repositories and collaborate through a browser interface.", 33009, 3000,
       "/api/healthz", 200, "docker.gitea.com/gitea:1.27.3-rootless", std::nullopt,
       {{"torvo-gitea-data", "/var/lib/gitea"}, {"torvo-gitea-config", "/etc/gitea"}},
       std::nullopt, {}, true,
       "# Settings of Gitea. The Zelk reads this file when it starts the app.\n"
       "TORVO_PORT=33009\n"},
      {"open-webui", "Open WebUI", "AI workspace",
       "Chat with language models that run on your own computer, through Ollama.", 33000, 8080,
       "/health", 5600, "ghcr.io/open-webui/open-webui:v0.11.4", std::nullopt,
       {{"torvo-open-webui-data", "/app/backend/data"}}, std::nullopt, {"ollama"}, true,
       "# Settings of Open WebUI. The Zelk reads this file when it starts the app.\n"
       "TORVO_PORT=33000\nWEBUI_SECRET_KEY=\nOLLAMA_BASE_URL=http://torvo-ollama:11434\n"},
      {"ollama", "Ollama", "Local models",
       "Runs language models on your own computer, for apps such as Open WebUI.", 31434, 11434,
       "/api/version", 4700, "docker.io/ollama/ollama:0.40.2", std::nullopt,
       {{"torvo-ollama-data", "/root/.ollama"}}, std::string("torvo-ollama"), {}, true,
       "# Settings of Ollama. The Zelk reads this file when it starts the app.\n"
       "TORVO_PORT=31434\n"},
  };
  return all;
}

TEST(BuiltinRecipes, AreTheFourAppsInTheirOrderWithEveryField) {
  const std::vector<Recipe>& recipes = builtin_recipes();
  ASSERT_EQ(recipes.size(), expected_builtins().size());
  for (std::size_t i = 0; i < recipes.size(); ++i) {
    const Recipe& recipe = recipes[i];
    const Expected& want = expected_builtins()[i];
    SCOPED_TRACE(recipe.id);
    EXPECT_EQ(recipe.id, want.id);
    EXPECT_EQ(recipe.name, want.name);
    EXPECT_EQ(recipe.category, want.category);
    EXPECT_EQ(recipe.summary, want.summary);
    EXPECT_EQ(recipe.port, want.port);
    EXPECT_EQ(recipe.inner_port, want.inner_port);
    EXPECT_EQ(recipe.ready, want.ready);
    EXPECT_EQ(recipe.open, "/");
    EXPECT_EQ(recipe.disk_mb, want.disk_mb);
    EXPECT_EQ(recipe.container, "torvo-" + std::string(want.id));
    EXPECT_EQ(recipe.image, want.image);
    EXPECT_EQ(recipe.fallback_image, want.fallback_image);
    EXPECT_EQ(recipe.volumes, want.volumes);
    EXPECT_EQ(recipe.network, want.network);
    EXPECT_EQ(recipe.uses, want.uses);
    EXPECT_EQ(recipe.starts_used, want.starts_used);
    EXPECT_EQ(recipe.settings, want.settings);
    EXPECT_TRUE(recipe.helpers.empty());
    EXPECT_TRUE(recipe.command.empty());
    EXPECT_EQ(recipe.lesson, std::nullopt);
    EXPECT_EQ(recipe.from, "");
    EXPECT_TRUE(recipe.built_in);
  }
}

std::vector<std::string> env_names(const Recipe& recipe) {
  std::vector<std::string> names;
  for (const RecipeEnv& env : recipe.environment) names.push_back(env.name);
  return names;
}

EnvValue text_value(std::string_view text) {
  EnvValue value;
  value.text = text;
  return value;
}

EnvValue port_value(std::string_view before, std::string_view after) {
  EnvValue value;
  value.kind = EnvValue::Kind::Port;
  value.before = before;
  value.after = after;
  return value;
}

EnvValue setting_value(std::string_view name, std::string_view default_value) {
  EnvValue value;
  value.kind = EnvValue::Kind::Setting;
  value.name = name;
  value.default_value = default_value;
  return value;
}

EnvValue secret_value(std::string_view name, std::uint32_t length) {
  EnvValue value;
  value.kind = EnvValue::Kind::Secret;
  value.name = name;
  value.length = length;
  return value;
}

const EnvValue& env_value(const Recipe& recipe, std::string_view name) {
  for (const RecipeEnv& env : recipe.environment) {
    if (env.name == name) return env.value;
  }
  static const EnvValue none = text_value("<absent>");
  ADD_FAILURE() << name << " is not set by " << recipe.id;
  return none;
}

TEST(BuiltinRecipes, N8nEnvironment) {
  const Recipe& n8n = builtin_recipes()[0];
  EXPECT_EQ(env_names(n8n),
            (std::vector<std::string>{"N8N_HOST", "N8N_PORT", "N8N_PROTOCOL", "N8N_SECURE_COOKIE",
                                      "N8N_WEBHOOK_URL", "N8N_ENCRYPTION_KEY", "GENERIC_TIMEZONE",
                                      "N8N_DIAGNOSTICS_ENABLED",
                                      "N8N_VERSION_NOTIFICATIONS_ENABLED",
                                      "N8N_PERSONALIZATION_ENABLED"}));
  EXPECT_EQ(env_value(n8n, "N8N_HOST"), text_value("localhost"));
  EXPECT_EQ(env_value(n8n, "N8N_PORT"), text_value("5678"));
  EXPECT_EQ(env_value(n8n, "N8N_PROTOCOL"), text_value("http"));
  EXPECT_EQ(env_value(n8n, "N8N_SECURE_COOKIE"), text_value("false"));
  EXPECT_EQ(env_value(n8n, "N8N_WEBHOOK_URL"),
            port_value("http://localhost:", "/"));
  EXPECT_EQ(env_value(n8n, "N8N_ENCRYPTION_KEY"),
            secret_value("N8N_ENCRYPTION_KEY", 32));
  EXPECT_EQ(env_value(n8n, "GENERIC_TIMEZONE"),
            setting_value("GENERIC_TIMEZONE", "Europe/Berlin"));
  for (std::string_view off : {"N8N_DIAGNOSTICS_ENABLED", "N8N_VERSION_NOTIFICATIONS_ENABLED",
                               "N8N_PERSONALIZATION_ENABLED"}) {
    EXPECT_EQ(env_value(n8n, off), text_value("false")) << off;
  }
}

TEST(BuiltinRecipes, GiteaEnvironment) {
  const Recipe& gitea = builtin_recipes()[1];
  EXPECT_EQ(env_names(gitea),
            (std::vector<std::string>{
                "GITEA__database__DB_TYPE", "GITEA__database__PATH", "GITEA__server__ROOT_URL",
                "GITEA__server__DISABLE_SSH", "GITEA__service__DEFAULT_PRIVATE",
                "GITEA__service__FORCE_PRIVATE", "GITEA__service__DISABLE_REGISTRATION"}));
  EXPECT_EQ(env_value(gitea, "GITEA__database__DB_TYPE"), text_value("sqlite3"));
  EXPECT_EQ(env_value(gitea, "GITEA__database__PATH"), text_value("/var/lib/gitea/gitea.db"));
  EXPECT_EQ(env_value(gitea, "GITEA__server__ROOT_URL"),
            port_value("http://127.0.0.1:", "/"));
  EXPECT_EQ(env_value(gitea, "GITEA__server__DISABLE_SSH"), text_value("true"));
  EXPECT_EQ(env_value(gitea, "GITEA__service__DEFAULT_PRIVATE"), text_value("false"));
  EXPECT_EQ(env_value(gitea, "GITEA__service__FORCE_PRIVATE"), text_value("false"));
  EXPECT_EQ(env_value(gitea, "GITEA__service__DISABLE_REGISTRATION"), text_value("true"));
}

TEST(BuiltinRecipes, OpenWebuiAndOllamaEnvironment) {
  const Recipe& webui = builtin_recipes()[2];
  EXPECT_EQ(env_names(webui), (std::vector<std::string>{"OLLAMA_BASE_URL", "WEBUI_SECRET_KEY"}));
  EXPECT_EQ(env_value(webui, "OLLAMA_BASE_URL"),
            setting_value("OLLAMA_BASE_URL", "http://torvo-ollama:11434"));
  EXPECT_EQ(env_value(webui, "WEBUI_SECRET_KEY"),
            secret_value("WEBUI_SECRET_KEY", 32));

  const Recipe& ollama = builtin_recipes()[3];
  EXPECT_EQ(env_names(ollama), (std::vector<std::string>{"OLLAMA_HOST", "OLLAMA_NO_CLOUD"}));
  EXPECT_EQ(env_value(ollama, "OLLAMA_HOST"), text_value("0.0.0.0:11434"));
  EXPECT_EQ(env_value(ollama, "OLLAMA_NO_CLOUD"), text_value("1"));
}

TEST(BuiltinRecipes, AreReadOnceForEveryThread) {
  const std::vector<Recipe>* seen[4] = {};
  std::vector<std::thread> threads;
  for (auto& slot : seen) {
    threads.emplace_back([&slot] { slot = &builtin_recipes(); });
  }
  for (std::thread& thread : threads) thread.join();
  for (const auto* list : seen) EXPECT_EQ(list, &builtin_recipes());
}

TEST(BuiltinRecipes, EachTextIsTheRecipeReadFromIt) {
  const auto texts = builtin_recipe_texts();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    std::expected<Recipe, std::string> again = read_recipe(texts[i]);
    ASSERT_TRUE(again) << again.error();
    again->built_in = true;
    EXPECT_EQ(*again, builtin_recipes()[i]);
  }
}

TEST(BuiltinRecipes, CannotBeAddedAgain) {
  const auto texts = builtin_recipe_texts();
  const std::array<std::string_view, 4> names{"n8n", "Gitea", "Open WebUI", "Ollama"};
  const std::array<std::string_view, 4> ids{"n8n", "gitea", "open-webui", "ollama"};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const auto admission = admit_recipe(texts[i], builtin_recipes());
    ASSERT_FALSE(admission);
    EXPECT_EQ(admission.error(), "The id \"" + std::string(ids[i]) + "\" belongs to " +
                                     std::string(names[i]) + ", which is built in. Choose another id.");
  }
}

}  // namespace
}  // namespace zelk
