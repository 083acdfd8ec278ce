#include "apps_run.h"

#include <gtest/gtest.h>

#include "apps.h"

namespace zelk {
namespace {

// An app with its own network, another app's network, a data volume, every kind of
// environment value, a helper that starts before it and one that starts after it.
const char* const full_recipe = R"(services:
  demo:
    image: localhost/zelk/demo:1.0
    command:
      - httpd
      - -f
    environment:
      PLAIN: cost $$5
      ADDRESS: http://127.0.0.1:${TORVO_PORT}/hook
      GREETING: ${GREETING:-hello}
      TOKEN: ${APP_TOKEN}
      DSN: user:${APP_TOKEN}@db/${DB_NAME:-demo}
      LINK: ${GREETING:-hello}/${TORVO_PORT}
    ports:
      - 127.0.0.1:${TORVO_PORT}:8080
    volumes:
      - data:/var/data
    networks:
      - own
      - base
    depends_on:
      - db
  db:
    image: localhost/zelk/db:2.1
    environment:
      DB_PASSWORD: ${APP_TOKEN}
      DB_NAME: ${DB_NAME:-demo}
      WHERE: port ${TORVO_PORT}
    volumes:
      - dbdata:/db
  worker:
    image: localhost/zelk/worker:3
    command:
      - run
    depends_on:
      - demo
volumes:
  data:
    name: torvo-demo-data
  dbdata:
    name: torvo-demo-db
networks:
  own:
    name: torvo-demo
  base:
    name: torvo-base
    external: true
x-zelk:
  format: 2
  id: demo
  name: Demo
  category: Tests
  summary: An app for tests
  port: 40123
  ready: /
  secrets:
    APP_TOKEN: 16
)";

// One container alone: no network, no helper, nothing but a port and a fixed value.
const char* const lone_recipe = R"(services:
  lone:
    image: localhost/zelk/lone:1.0
    environment:
      MODE: quiet
    ports:
      - 127.0.0.1:${TORVO_PORT}:80
x-zelk:
  format: 1
  id: lone
  name: Lone
  category: Tests
  summary: One container
  port: 40200
  ready: /
)";

Recipe read(const char* text) {
  auto recipe = read_recipe(text);
  EXPECT_TRUE(recipe) << recipe.error();
  return recipe.value_or(Recipe{});
}

const std::string settings = "TORVO_PORT=41000\nAPP_TOKEN=00112233445566778899aabbccddeeff\nGREETING=hi there\n";

const RecipeService& helper(const Recipe& recipe, std::string_view name) {
  for (const RecipeService& service : recipe.helpers) {
    if (service.name == name) return service;
  }
  ADD_FAILURE() << "no helper " << name;
  return recipe.helpers.front();
}

// The hash recomputed from an argument list as the hash rule says: the list up to the image
// joined by line feeds, then a line feed and each command word.
std::string hash_of(const std::vector<std::string>& args, std::size_t command_words) {
  std::vector<std::string> head(args.begin(), args.end() - static_cast<std::ptrdiff_t>(command_words));
  // Take the two labels out again (four items before the image).
  head.erase(head.end() - 5, head.end() - 1);
  std::string text;
  for (std::size_t i = 0; i < head.size(); ++i) {
    if (i) text += "\n";
    text += head[i];
  }
  for (std::size_t i = args.size() - command_words; i < args.size(); ++i) text += "\n" + args[i];
  return fnv1a_64(text);
}

struct RunCase {
  std::string label;
  const char* recipe;
  std::string container;  // "" for the app's own
  std::vector<std::string> args_before_labels;
  std::vector<std::string> image_and_command;
  EnvPairs env;
  friend void PrintTo(const RunCase& c, std::ostream* os) { *os << c.label; }
};

class RunArguments : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunArguments, GiveTheExactListTheSecretsAndTheHash) {
  const RunCase& c = GetParam();
  const Recipe recipe = read(c.recipe);
  std::expected<ContainerRun, std::string> run =
      c.container.empty() ? run_arguments(app_run_plan(recipe), recipe, 41000, settings)
                          : helper_run_arguments(recipe, 41000, settings, helper(recipe, c.container));
  ASSERT_TRUE(run) << run.error();
  std::vector<std::string> expected = c.args_before_labels;
  expected.insert(expected.end(), {"--label", "torvo.app=" + recipe.id, "--label", "torvo.recipe=" + run->recipe_hash});
  expected.insert(expected.end(), c.image_and_command.begin(), c.image_and_command.end());
  EXPECT_EQ(run->args, expected);
  EXPECT_EQ(run->env, c.env);
  EXPECT_EQ(run->recipe_hash, hash_of(run->args, c.image_and_command.size() - 1));
  EXPECT_EQ(run->recipe_hash.size(), 16u);
  for (const auto& [name, value] : run->env) {
    for (const std::string& arg : run->args) EXPECT_EQ(arg.find(value), std::string::npos) << arg;
  }
  if (c.container.empty()) {
    EXPECT_EQ(run->container, recipe.container);
    EXPECT_EQ(run->helper_name, std::nullopt);
  } else {
    EXPECT_EQ(run->container, "torvo-" + recipe.id + "-" + c.container);
    EXPECT_EQ(run->helper_name, c.container);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunArguments,
    ::testing::Values(
        RunCase{"TheAppWithHelpersAndNetworks",
                full_recipe,
                "",
                {"run", "-d", "--name", "torvo-demo", "--restart", "unless-stopped",
                 "--network", "torvo-demo", "--network", "torvo-base", "--network", "torvo-demo_default:alias=demo",
                 "-p", "127.0.0.1:41000:8080", "-v", "torvo-demo-data:/var/data",
                 "-e", "PLAIN=cost $5", "-e", "ADDRESS=http://127.0.0.1:41000/hook", "-e", "GREETING=hi there",
                 "-e", "TOKEN", "-e", "DSN", "-e", "LINK=hi there/41000"},
                {"localhost/zelk/demo:1.0", "httpd", "-f"},
                {{"TOKEN", "00112233445566778899aabbccddeeff"},
                 {"DSN", "user:00112233445566778899aabbccddeeff@db/demo"}}},
        RunCase{"AHelperBeforeTheApp",
                full_recipe,
                "db",
                {"run", "-d", "--name", "torvo-demo-db", "--restart", "unless-stopped", "--network",
                 "torvo-demo_default", "--network-alias", "db", "-v", "torvo-demo-db:/db", "-e", "DB_PASSWORD",
                 "-e", "DB_NAME=demo", "-e", "WHERE=port 41000"},
                {"localhost/zelk/db:2.1"},
                {{"DB_PASSWORD", "00112233445566778899aabbccddeeff"}}},
        RunCase{"AHelperAfterTheApp",
                full_recipe,
                "worker",
                {"run", "-d", "--name", "torvo-demo-worker", "--restart", "unless-stopped", "--network",
                 "torvo-demo_default", "--network-alias", "worker"},
                {"localhost/zelk/worker:3", "run"},
                {}},
        RunCase{"AnAppAlone",
                lone_recipe,
                "",
                {"run", "-d", "--name", "torvo-lone", "--restart", "unless-stopped", "-p", "127.0.0.1:41000:80",
                 "-e", "MODE=quiet"},
                {"localhost/zelk/lone:1.0"},
                {}}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return info.param.label; });

TEST(Networks, OwnThenUsedThenTheHelperNetwork) {
  const Recipe recipe = read(full_recipe);
  EXPECT_EQ(app_networks(recipe), (std::vector<std::string>{"torvo-demo", "torvo-base", "torvo-demo_default"}));
  EXPECT_EQ(helper_network(recipe), "torvo-demo_default");
  const Recipe lone = read(lone_recipe);
  EXPECT_TRUE(app_networks(lone).empty());
  EXPECT_EQ(helper_network(lone), std::nullopt);
}

TEST(Networks, HelpersStartInTheirOrder) {
  const Recipe recipe = read(full_recipe);
  ASSERT_EQ(recipe.helpers.size(), 2u);
  EXPECT_FALSE(helper(recipe, "db").after_app);
  EXPECT_TRUE(helper(recipe, "worker").after_app);
}

TEST(RunArgumentsFailure, AMissingOrEmptySecretStopsAtThatEntry) {
  const Recipe recipe = read(full_recipe);
  for (const std::string text : {"TORVO_PORT=41000\n", "TORVO_PORT=41000\nAPP_TOKEN=\n", "APP_TOKEN=  \n"}) {
    auto run = run_arguments(app_run_plan(recipe), recipe, 41000, text);
    ASSERT_FALSE(run);
    EXPECT_EQ(run.error(), "The settings of Demo have no APP_TOKEN.");
    auto db = helper_run_arguments(recipe, 41000, text, helper(recipe, "db"));
    ASSERT_FALSE(db);
    EXPECT_EQ(db.error(), "The settings of Demo have no APP_TOKEN.");
  }
}

TEST(RecipeHash, IgnoresSecretValuesAndFollowsEverythingElse) {
  const Recipe recipe = read(full_recipe);
  auto hash = [&](std::uint16_t port, std::string_view text) {
    auto run = run_arguments(app_run_plan(recipe), recipe, port, text);
    EXPECT_TRUE(run) << run.error();
    return run ? run->recipe_hash : std::string();
  };
  const std::string base = hash(41000, settings);
  EXPECT_EQ(hash(41000, "APP_TOKEN=ffffffffffffffffffffffffffffffff\nGREETING=hi there\n"), base);
  EXPECT_NE(hash(41001, settings), base);
  // A setting inside a value that holds a secret travels with the secret, off the hash.
  EXPECT_EQ(hash(41000, settings + "DB_NAME=other\n"), base);
  const RecipeService& db = helper(recipe, "db");
  EXPECT_NE(helper_run_arguments(recipe, 41000, settings + "DB_NAME=other\n", db)->recipe_hash,
            helper_run_arguments(recipe, 41000, settings, db)->recipe_hash);
  EXPECT_NE(hash(41000, "APP_TOKEN=ffff\nGREETING=changed\n"), base);

  RunPlan plan = app_run_plan(recipe);
  auto with = [&](const RunPlan& changed) { return run_arguments(changed, recipe, 41000, settings)->recipe_hash; };
  EXPECT_EQ(with(plan), base);
  RunPlan other_image = plan;
  other_image.image = "localhost/zelk/demo:1.1";
  EXPECT_NE(with(other_image), base);
  RunPlan other_command = plan;
  other_command.command.back() = "-v";
  EXPECT_NE(with(other_command), base);
  RunPlan other_mount = plan;
  other_mount.mounts[0].path = "/data";
  EXPECT_NE(with(other_mount), base);
  RunPlan no_alias = plan;
  no_alias.alias.reset();
  EXPECT_NE(with(no_alias), base);
  RunPlan fewer_networks = plan;
  fewer_networks.networks.pop_back();
  EXPECT_NE(with(fewer_networks), base);
}

TEST(RecipeHash, AnEmptySettingUsesTheRecipeDefault) {
  const Recipe recipe = read(full_recipe);
  auto run = run_arguments(app_run_plan(recipe), recipe, 41000, "APP_TOKEN=abc\nGREETING=\n");
  ASSERT_TRUE(run);
  EXPECT_NE(std::find(run->args.begin(), run->args.end(), "GREETING=hello"), run->args.end());
  EXPECT_NE(std::find(run->args.begin(), run->args.end(), "LINK=hello/41000"), run->args.end());
}

}  // namespace
}  // namespace zelk
