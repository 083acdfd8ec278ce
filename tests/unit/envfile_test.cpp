#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <new>

#include "apps_read.h"
#include "envfile.h"
#include "files.h"
#include "platform.h"
#include "probes_in_flight.h"
#include "test_context.h"
#include "test_folder.h"
#include "test_recipes.h"

namespace zelk {
namespace {

void write_text(const std::filesystem::path& path, std::string_view text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << text;
}

TEST(SettingsPaths, LieInTheAppsFolder) {
  const std::filesystem::path home = path_from_utf8("/data/home");
  EXPECT_EQ(settings_path(home, "n8n"), home / "apps" / "n8n" / ".env");
  EXPECT_EQ(running_marker_path(home, "n8n"), home / "apps" / "n8n" / "running");
}

struct ValueCase {
  std::string name;
  std::string text;
  std::string key;
  std::optional<std::string> value;
  friend void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.name; }
};

class SettingValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(SettingValue, ReadsTheFirstExactLine) {
  EXPECT_EQ(setting_value(GetParam().text, GetParam().key), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SettingValue,
    ::testing::Values(
        ValueCase{"Plain", "# c\nA=1\nB=2\n", "B", "2"},
        ValueCase{"TrimmedValue", "A=  spaced out \t\n", "A", "spaced out"},
        ValueCase{"CarriageReturn", "A=1\r\nB=2\r\n", "A", "1"},
        ValueCase{"FirstWins", "A=1\nA=2\n", "A", "1"},
        ValueCase{"EmptyValue", "A=\n", "A", ""},
        ValueCase{"LeadingSpaceNoMatch", " A=1\n", "A", std::nullopt},
        ValueCase{"SpaceBeforeEqualsNoMatch", "A =1\n", "A", std::nullopt},
        ValueCase{"CommentNoMatch", "#A=1\n", "A", std::nullopt},
        ValueCase{"LongerKeyNoMatch", "AB=1\n", "A", std::nullopt},
        ValueCase{"Missing", "", "A", std::nullopt},
        ValueCase{"ValueHoldsEquals", "URL=a=b\n", "URL", "a=b"}),
    [](const auto& info) { return info.param.name; });

struct PortCase {
  std::string name;
  std::string text;
  std::optional<std::uint16_t> port;
  friend void PrintTo(const PortCase& c, std::ostream* os) { *os << c.name; }
};

class SettingsPort : public ::testing::TestWithParam<PortCase> {};

TEST_P(SettingsPort, AcceptsOneToFiveDigitPorts) { EXPECT_EQ(settings_port(GetParam().text), GetParam().port); }

INSTANTIATE_TEST_SUITE_P(
    Values, SettingsPort,
    ::testing::Values(PortCase{"Plain", "TORVO_PORT=8080\n", 8080},
                      PortCase{"Spaced", "TORVO_PORT= 8080 \n", 8080},
                      PortCase{"IndentedLine", " TORVO_PORT=8080\n", std::nullopt},
                      PortCase{"Plus", "TORVO_PORT=+8080\n", 8080}, PortCase{"Zero", "TORVO_PORT=0\n", std::nullopt},
                      PortCase{"TooBig", "TORVO_PORT=65536\n", std::nullopt},
                      PortCase{"Highest", "TORVO_PORT=65535\n", 65535}, PortCase{"Low", "TORVO_PORT=1\n", 1},
                      PortCase{"Letters", "TORVO_PORT=80a\n", std::nullopt},
                      PortCase{"Minus", "TORVO_PORT=-80\n", std::nullopt},
                      PortCase{"PlusOnly", "TORVO_PORT=+\n", std::nullopt},
                      PortCase{"Empty", "TORVO_PORT=\n", std::nullopt},
                      PortCase{"HugeNumber", "TORVO_PORT=99999999999999999999\n", std::nullopt},
                      PortCase{"FirstLineCounts", "TORVO_PORT=3000\nTORVO_PORT=4000\n", 3000}),
    [](const auto& info) { return info.param.name; });

TEST(AppPort, ComesFromTheSettingsFileOnDisk) {
  TestFolder home;
  const Recipe recipe = recipe_named("gitea", 3000);
  EXPECT_EQ(app_port(home.path(), recipe), 3000);  // no file yet
  write_text(settings_path(home.path(), "gitea"), "# Settings\nTORVO_PORT=3111\n");
  EXPECT_EQ(app_port(home.path(), recipe), 3111);
  EXPECT_EQ(app_address(home.path(), recipe), "http://127.0.0.1:3111/");
  write_text(settings_path(home.path(), "gitea"), " TORVO_PORT=3111\n");
  EXPECT_EQ(app_port(home.path(), recipe), 3000);
  write_text(settings_path(home.path(), "gitea"), "TORVO_PORT=3111\nNOTE=\xff\xfe\n");  // not UTF-8
  EXPECT_EQ(app_port(home.path(), recipe), 3000);
}

TEST(AppAddress, EndsWithTheOpenPath) {
  TestFolder home;
  Recipe recipe = recipe_named("webui", 8080);
  recipe.open = "/app/login";
  EXPECT_EQ(app_address(home.path(), recipe), "http://127.0.0.1:8080/app/login");
}

struct SetCase {
  std::string name;
  std::string text;
  std::string key;
  std::string value;
  std::string result;
  friend void PrintTo(const SetCase& c, std::ostream* os) { *os << c.name; }
};

class SetSetting : public ::testing::TestWithParam<SetCase> {};

TEST_P(SetSetting, ChangesOnlyTheFirstLine) {
  EXPECT_EQ(set_setting(GetParam().text, GetParam().key, GetParam().value), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SetSetting,
    ::testing::Values(SetCase{"Empty", "", "K", "v", "K=v\n"},
                      SetCase{"CrLfBecomesLf", "A=1\r\nB=2\r\n", "B", "3", "A=1\nB=3\n"},
                      SetCase{"Appended", "# c\nA=1\n", "B", "2", "# c\nA=1\nB=2\n"},
                      SetCase{"LastLineWithoutEnd", "A=1", "B", "2", "A=1\nB=2\n"},
                      SetCase{"OnlyFirstOfTwo", "TORVO_PORT=1\nX=y\nTORVO_PORT=2\n", "TORVO_PORT", "3",
                              "TORVO_PORT=3\nX=y\nTORVO_PORT=2\n"},
                      SetCase{"BlankLinesKept", "A=1\n\n# c\n", "A", "", "A=\n\n# c\n"},
                      SetCase{"IndentedIsNotTheKey", " A=1\n", "A", "2", " A=1\nA=2\n"}),
    [](const auto& info) { return info.param.name; });

TEST(SettingOrDefault, EmptyValueGivesTheDefault) {
  EXPECT_EQ(setting_or_default("NAME=\n", "NAME", "dflt"), "dflt");
  EXPECT_EQ(setting_or_default("", "NAME", "dflt"), "dflt");
  EXPECT_EQ(setting_or_default("NAME= mine \n", "NAME", "dflt"), "mine");
}

TEST(SecretSetting, MissingOrEmptyIsAMessage) {
  const Recipe recipe = recipe_named("n8n", 5678);
  EXPECT_EQ(secret_setting(recipe, "KEY=abc\n", "KEY").value(), "abc");
  EXPECT_EQ(secret_setting(recipe, "KEY=\n", "KEY").error(), "The settings of App n8n have no KEY.");
  EXPECT_EQ(secret_setting(recipe, "OTHER=1\n", "KEY").error(), "The settings of App n8n have no KEY.");
}

RecipeEnv secret_env(std::string variable, std::string secret, std::uint32_t length) {
  EnvValue value;
  value.kind = EnvValue::Kind::Secret;
  value.name = std::move(secret);
  value.length = length;
  return RecipeEnv{std::move(variable), value};
}

TEST(SecretsInUse, AppThenHelpersEachNameOnce) {
  Recipe recipe = recipe_named("n8n", 5678);
  EnvValue text;
  text.kind = EnvValue::Kind::Text;
  text.text = "x";
  recipe.environment = {secret_env("A", "KEY", 32), RecipeEnv{"PLAIN", text}};
  EnvValue parts;
  parts.kind = EnvValue::Kind::Parts;
  parts.parts = {EnvPart{EnvPart::Kind::Text, "postgres://u:", "", "", 0},
                 EnvPart{EnvPart::Kind::Secret, "", "DB_PASS", "", 24},
                 EnvPart{EnvPart::Kind::Secret, "", "KEY", "", 16}};
  RecipeService db;
  db.name = "db";
  db.container = "torvo-n8n-db";
  db.environment = {secret_env("POSTGRES_PASSWORD", "DB_PASS", 24), secret_env("KEY_AGAIN", "KEY", 32)};
  RecipeService worker;
  worker.name = "worker";
  worker.container = "torvo-n8n-worker";
  worker.environment = {RecipeEnv{"URL", parts}, secret_env("EXTRA", "THIRD", 40)};
  recipe.helpers = {db, worker};
  EXPECT_EQ(secrets_in_use(recipe), (std::vector<std::pair<std::string, std::uint32_t>>{
                                        {"KEY", 32}, {"DB_PASS", 24}, {"THIRD", 40}}));
}

TEST(RunningMarkers, OnlyExistingMarkersCount) {
  TestFolder home;
  std::vector<Recipe> recipes{recipe_named("one", 2001), recipe_named("two", 2002), recipe_named("three", 2003)};
  write_text(running_marker_path(home.path(), "three"), "");
  write_text(running_marker_path(home.path(), "one"), "");
  std::filesystem::create_directories(home.path() / "apps" / "two");
  const auto left = next_left_running(home.path(), recipes);
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0]->id, "one");
  EXPECT_EQ(left[1]->id, "three");
  EXPECT_TRUE(running_marker_exists(home.path(), "one"));
  EXPECT_FALSE(running_marker_exists(home.path(), "two"));
}

TEST(RunningMarkers, AFolderInItsPlaceCountsToo) {
  TestFolder home;
  std::filesystem::create_directories(running_marker_path(home.path(), "odd"));
  EXPECT_TRUE(running_marker_exists(home.path(), "odd"));
}

TEST(SettingsFile, WrittenWholeAndReadBack) {
  TestFolder home;
  EXPECT_EQ(read_settings(home.path(), "n8n"), std::nullopt);
  ASSERT_TRUE(write_settings(home.path(), "n8n", "TORVO_PORT=5678\nKEY=abc\n"));
  EXPECT_EQ(read_settings(home.path(), "n8n"), "TORVO_PORT=5678\nKEY=abc\n");
  ASSERT_TRUE(write_settings(home.path(), "n8n", "TORVO_PORT=5679\n"));
  EXPECT_EQ(read_settings(home.path(), "n8n"), "TORVO_PORT=5679\n");
  // Nothing but the settings file is left in the app's folder.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(app_folder(home.path(), "n8n"))) {
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
}

TEST(SettingsFile, AWriteThatCannotHappenKeepsTheOldFile) {
  TestFolder home;
  // A file where the apps folder should be: the app's folder cannot be made.
  write_text(home.path() / "apps", "not a folder");
  auto written = write_settings(home.path(), "n8n", "TORVO_PORT=1\n");
  ASSERT_FALSE(written);
  EXPECT_FALSE(written.error().empty());
}

TEST(SettingsFile, NonAsciiDataFolder) {
  TestFolder base;
  const std::filesystem::path home = base.path() / path_from_utf8("D\xc3\xa4ten \xe2\x82\xac");
  ASSERT_TRUE(write_settings(home, "gitea", "TORVO_PORT=3456\n"));
  Recipe recipe = recipe_named("gitea", 3000);
  EXPECT_EQ(app_port(home, recipe), 3456);
}

// ---------------------------------------------------------------- app state

struct StateCase {
  std::string name;
  ContainerMap containers;
  std::optional<std::uint16_t> probe;
  AppState state;
  bool probed;
  friend void PrintTo(const StateCase& c, std::ostream* os) { *os << c.name; }
};

class AppStateOf : public ::testing::TestWithParam<StateCase> {};

TEST_P(AppStateOf, FollowsTheContainersAndTheProbe) {
  TestFolder home;
  Recipe recipe = recipe_named("n8n", 5678);
  RecipeService db;
  db.name = "db";
  db.container = "torvo-n8n-db";
  recipe.helpers = {db};
  write_text(settings_path(home.path(), "n8n"), "TORVO_PORT=5999\n");
  TestContext fake(home.path());
  const auto answer = GetParam().probe;
  fake.probe_answer = [answer](std::uint16_t, std::string_view) { return answer; };
  EXPECT_EQ(app_state(fake.context(), recipe, GetParam().containers), GetParam().state);
  if (GetParam().probed) {
    ASSERT_EQ(fake.probes.size(), 1u);
    EXPECT_EQ(fake.probes[0], (std::pair<std::uint16_t, std::string>{5999, "/health"}));
  } else {
    EXPECT_TRUE(fake.probes.empty());
  }
}

const ContainerInfo running{"running", "ab"};

INSTANTIATE_TEST_SUITE_P(
    Table, AppStateOf,
    ::testing::Values(
        StateCase{"NoContainer", {{"torvo-n8n-db", running}}, 200, AppState::not_installed(), false},
        StateCase{"Exited", {{"torvo-n8n", {"exited", ""}}}, 200, AppState::state("exited"), false},
        StateCase{"Created", {{"torvo-n8n", {"created", ""}}, {"torvo-n8n-db", running}}, 200,
                  AppState::state("created"), false},
        StateCase{"HelperAbsent", {{"torvo-n8n", running}}, 200, AppState::state("partly running"), false},
        StateCase{"HelperStopped", {{"torvo-n8n", running}, {"torvo-n8n-db", {"exited", ""}}}, 200,
                  AppState::state("partly running"), false},
        StateCase{"Ready", {{"torvo-n8n", running}, {"torvo-n8n-db", running}}, 204, AppState::ready(), true},
        StateCase{"Ready299", {{"torvo-n8n", running}, {"torvo-n8n-db", running}}, 299, AppState::ready(), true},
        StateCase{"Redirect", {{"torvo-n8n", running}, {"torvo-n8n-db", running}}, 302, AppState::starting(), true},
        StateCase{"NotFound", {{"torvo-n8n", running}, {"torvo-n8n-db", running}}, 404, AppState::starting(), true},
        StateCase{"Below200", {{"torvo-n8n", running}, {"torvo-n8n-db", running}}, 199, AppState::starting(), true},
        StateCase{"NoAnswer", {{"torvo-n8n", running}, {"torvo-n8n-db", running}}, std::nullopt,
                  AppState::starting(), true}),
    [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------- states of many apps

using ProbeCall = std::pair<std::uint16_t, std::string>;

std::vector<ProbeCall> sorted(std::vector<ProbeCall> calls) {
  std::sort(calls.begin(), calls.end());
  return calls;
}

TEST(AppStates, ProbesTheRunningAppsSideBySideAndKeepsTheOrder) {
  TestFolder home;
  std::vector<Recipe> recipes;
  for (std::uint16_t n = 0; n < 8; ++n) recipes.push_back(recipe_named("app" + std::to_string(n), 6000 + n));
  RecipeService db;
  db.name = "db";
  db.container = "torvo-app5-db";
  recipes[5].helpers = {db};
  write_text(settings_path(home.path(), "app6"), "TORVO_PORT=7006\n");
  const ContainerMap containers{{"torvo-app0", running}, {"torvo-app1", {"exited", ""}}, {"torvo-app2", running},
                                {"torvo-app4", running}, {"torvo-app5", running}, {"torvo-app6", running},
                                {"torvo-app7", running}};
  // Five apps run whole; each probe ends only once all five are under way together.
  ProbesInFlight late(5, [](std::uint16_t port, std::string_view) -> std::optional<std::uint16_t> {
    switch (port) {
      case 6000: return 200;
      case 6002: return 404;
      case 7006: return 204;
      case 6007: return 503;
      default: return std::nullopt;
    }
  });
  TestContext fake(home.path());
  fake.probe_answer = [&late](std::uint16_t port, std::string_view path) { return late(port, path); };

  EXPECT_EQ(app_states(fake.context(), recipes, containers),
            (std::vector<AppState>{AppState::ready(), AppState::state("exited"), AppState::starting(),
                                   AppState::not_installed(), AppState::starting(), AppState::state("partly running"),
                                   AppState::ready(), AppState::starting()}));
  EXPECT_TRUE(late.met()) << "the probes ran one after another";
  EXPECT_EQ(sorted(fake.probes), (std::vector<ProbeCall>{{6000, "/health"}, {6002, "/health"}, {6004, "/health"},
                                                         {6007, "/health"}, {7006, "/health"}}));
}

TEST(AppStates, NeverHasMoreProbesUnderWayThanItsBound) {
  TestFolder home;
  std::vector<Recipe> recipes;
  ContainerMap containers;
  for (std::uint16_t n = 0; n < 3 * probes_at_once; ++n) {
    recipes.push_back(recipe_named("app" + std::to_string(n), 6000 + n));
    containers.emplace("torvo-app" + std::to_string(n), running);
  }
  ProbesInFlight late(
      probes_at_once, [](std::uint16_t, std::string_view) { return std::optional<std::uint16_t>(); },
      std::chrono::milliseconds(100));
  TestContext fake(home.path());
  fake.probe_answer = [&late](std::uint16_t port, std::string_view path) { return late(port, path); };

  const std::vector<AppState> states = app_states(fake.context(), recipes, containers);
  EXPECT_EQ(states, std::vector<AppState>(recipes.size(), AppState::starting()));
  EXPECT_TRUE(late.met()) << "fewer than " << probes_at_once << " probes were ever under way at once";
  EXPECT_EQ(late.most_at_once(), probes_at_once);
  EXPECT_EQ(fake.probes.size(), recipes.size());
}

TEST(AppStates, AProbeThatThrowsOnAHelperThreadThrowsOnTheReadsOwnThread) {
  TestFolder home;
  const std::vector<Recipe> recipes{recipe_named("app0", 6000), recipe_named("app1", 6001)};
  const ContainerMap containers{{"torvo-app0", running}, {"torvo-app1", running}};
  // Both probes are under way at once, so one of them runs on a helper thread.
  ProbesInFlight late(2, [](std::uint16_t, std::string_view) -> std::optional<std::uint16_t> {
    throw std::bad_alloc();
  });
  TestContext fake(home.path());
  fake.probe_answer = [&late](std::uint16_t port, std::string_view path) { return late(port, path); };
  EXPECT_THROW(app_states(fake.context(), recipes, containers), std::bad_alloc);
  EXPECT_TRUE(late.met());
}

}  // namespace
}  // namespace zelk
