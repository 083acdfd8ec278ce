#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recipe.h"

namespace zelk {
namespace {

/// A one-container recipe whose environment sets VALUE to `value` (written in single quotes),
/// beside a line that uses the secret KEY.
std::string recipe_with_value(std::string_view value, int format) {
  std::string quoted = "'";
  for (const char c : value) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  quoted += "'";
  return "services:\n"
         "  app:\n"
         "    image: example/app:1\n"
         "    ports:\n"
         "      - 127.0.0.1:${TORVO_PORT}:80\n"
         "    environment:\n"
         "      USES_KEY: ${KEY}\n"
         "      VALUE: " +
         quoted +
         "\n"
         "x-zelk:\n"
         "  format: " +
         std::to_string(format) +
         "\n"
         "  id: app\n"
         "  name: App\n"
         "  category: Tools\n"
         "  summary: An app.\n"
         "  port: 4000\n"
         "  ready: /\n"
         "  secrets:\n"
         "    KEY: 20\n";
}

EnvValue text(std::string t) {
  EnvValue v;
  v.text = std::move(t);
  return v;
}
EnvValue port(std::string before, std::string after) {
  EnvValue v;
  v.kind = EnvValue::Kind::Port;
  v.before = std::move(before);
  v.after = std::move(after);
  return v;
}
EnvValue setting(std::string name, std::string default_value) {
  EnvValue v;
  v.kind = EnvValue::Kind::Setting;
  v.name = std::move(name);
  v.default_value = std::move(default_value);
  return v;
}
EnvValue secret(std::string name, std::uint32_t length) {
  EnvValue v;
  v.kind = EnvValue::Kind::Secret;
  v.name = std::move(name);
  v.length = length;
  return v;
}
EnvValue parts(std::vector<EnvPart> list) {
  EnvValue v;
  v.kind = EnvValue::Kind::Parts;
  v.parts = std::move(list);
  return v;
}
EnvPart text_part(std::string t) { return {EnvPart::Kind::Text, std::move(t), {}, {}, 0}; }
EnvPart port_part() { return {EnvPart::Kind::Port, {}, {}, {}, 0}; }
EnvPart setting_part(std::string n, std::string d) {
  return {EnvPart::Kind::Setting, {}, std::move(n), std::move(d), 0};
}
EnvPart secret_part(std::string n, std::uint32_t l) {
  return {EnvPart::Kind::Secret, {}, std::move(n), {}, l};
}

struct Classification {
  const char* value;
  int format;
  EnvValue expected;
};

class EnvClassification : public testing::TestWithParam<Classification> {};

void PrintTo(const Classification& c, std::ostream* out) {
  *out << "'" << c.value << "' in format " << c.format;
}

TEST_P(EnvClassification, GivesTheKind) {
  const auto recipe = read_recipe(recipe_with_value(GetParam().value, GetParam().format));
  ASSERT_TRUE(recipe) << recipe.error();
  ASSERT_EQ(recipe->environment.size(), 2u);
  EXPECT_EQ(recipe->environment[1].name, "VALUE");
  EXPECT_EQ(recipe->environment[1].value, GetParam().expected);
}

const Classification classifications[] = {
    {"plain text", 1, text("plain text")},
    {"", 1, text("")},
    {"$$", 1, text("$")},
    {"a$$b", 1, text("a$b")},
    {"$${NAME}", 1, text("${NAME}")},
    {"$$$$", 1, text("$$")},
    {"${TORVO_PORT}", 1, port("", "")},
    {"http://localhost:${TORVO_PORT}/x", 1, port("http://localhost:", "/x")},
    {"${TORVO_PORT}/", 1, port("", "/")},
    {"$$:${TORVO_PORT}", 1, port("$:", "")},
    {"${TORVO_PORT:-9}", 1, port("", "")},
    {"${KEY}", 1, secret("KEY", 20)},
    {"${KEY:-fallback}", 1, secret("KEY", 20)},
    {"${KEY:?needed}", 1, secret("KEY", 20)},
    {"${ZONE:-Europe/Berlin}", 1, setting("ZONE", "Europe/Berlin")},
    {"${ZONE:-}", 1, setting("ZONE", "")},
    {"${ZONE:-a:-b}", 1, setting("ZONE", "a:-b")},
    {"${ZONE:-a:?b}", 1, setting("ZONE", "a:?b")},
    {"${_Z9:-$}", 1, setting("_Z9", "$")},
    {"${ZONE:-a}}", 2, parts({setting_part("ZONE", "a"), text_part("}")})},
    {"${A:-1}${B:-2}", 2, parts({setting_part("A", "1"), setting_part("B", "2")})},
    {"x${KEY}y", 2, parts({text_part("x"), secret_part("KEY", 20), text_part("y")})},
    {"${TORVO_PORT}${TORVO_PORT}", 2, parts({port_part(), port_part()})},
    {"${TORVO_PORT:-1}-${KEY:-2}", 2, parts({port_part(), text_part("-"), secret_part("KEY", 20)})},
    {"a$$b ${A:-x} c", 2, parts({text_part("a$b "), setting_part("A", "x"), text_part(" c")})},
    {"http://localhost:${TORVO_PORT}/", 2, port("http://localhost:", "/")},
    {"${KEY}", 2, secret("KEY", 20)},
    {"${ZONE:-x}", 2, setting("ZONE", "x")},
};
INSTANTIATE_TEST_SUITE_P(Values, EnvClassification, testing::ValuesIn(classifications));

TEST(EnvValues, TheSameValueRefusedInFormatOneIsPartsInFormatTwo) {
  for (const char* value :
       {"${A:-1}${B:-2}", "x${KEY}y", "${TORVO_PORT}${TORVO_PORT}", "x${A:-1}"}) {
    const auto refused = read_recipe(recipe_with_value(value, 1));
    ASSERT_FALSE(refused) << value;
    EXPECT_EQ(refused.error(),
              "VALUE: a value is a fixed text, a text around ${TORVO_PORT}, or one ${NAME} "
              "alone. A text with other names in it needs format 2.");
    const auto accepted = read_recipe(recipe_with_value(value, 2));
    ASSERT_TRUE(accepted) << accepted.error();
    EXPECT_EQ(accepted->environment[1].value.kind, EnvValue::Kind::Parts) << value;
  }
}

TEST(EnvValues, ASecretUsedOnlyInsidePartsCountsAsUsed) {
  std::string text = recipe_with_value("x${KEY}y", 2);
  text.replace(text.find("      USES_KEY: ${KEY}\n"), 22, "");
  const auto recipe = read_recipe(text);
  ASSERT_TRUE(recipe) << recipe.error();
  EXPECT_EQ(recipe->environment.size(), 1u);
  EXPECT_EQ(recipe->settings,
            "# Settings of App. The Zelk reads this file when it starts the app.\n"
            "TORVO_PORT=4000\n"
            "KEY=\n");
}

TEST(EnvValues, SettingReferredToByAppAndHelperKeepsTheAppsDefault) {
  const std::string text =
      "services:\n"
      "  side:\n"
      "    image: example/side:1\n"
      "    environment:\n"
      "      ZONE: ${ZONE:-helper}\n"
      "      LEVEL: x${LEVEL:-3}\n"
      "  app:\n"
      "    image: example/app:1\n"
      "    ports:\n"
      "      - 127.0.0.1:${TORVO_PORT}:80\n"
      "    environment:\n"
      "      ZONE: ${ZONE:-app}\n"
      "      TORVO: ${TORVO_PORT:-1}\n"
      "x-zelk:\n"
      "  format: 2\n"
      "  id: app\n"
      "  name: App\n"
      "  category: Tools\n"
      "  summary: An app.\n"
      "  port: 4000\n"
      "  ready: /\n";
  const auto recipe = read_recipe(text);
  ASSERT_TRUE(recipe) << recipe.error();
  EXPECT_EQ(recipe->settings,
            "# Settings of App. The Zelk reads this file when it starts the app.\n"
            "TORVO_PORT=4000\n"
            "ZONE=app\n"
            "LEVEL=3\n");
}

TEST(EnvValues, SettingsLinesAreLookedUpByTheirStartEvenInsideADefault) {
  // A double-quoted default may hold a line feed; the line it starts counts as set.
  const std::string text =
      "services:\n"
      "  app:\n"
      "    image: example/app:1\n"
      "    ports:\n"
      "      - 127.0.0.1:${TORVO_PORT}:80\n"
      "    environment:\n"
      "      FIRST: \"${FIRST:-one\\nSECOND=hidden}\"\n"
      "      SECOND: ${SECOND:-two}\n"
      "      SECOND_X: ${SECOND_X:-three}\n"
      "      KEYS: ${KEYS:-a=b}\n"
      "      KEY: ${KEY:-c}\n"
      "x-zelk:\n"
      "  format: 1\n"
      "  id: app\n"
      "  name: App\n"
      "  category: Tools\n"
      "  summary: An app.\n"
      "  port: 4000\n"
      "  ready: /\n";
  const auto recipe = read_recipe(text);
  ASSERT_TRUE(recipe) << recipe.error();
  EXPECT_EQ(recipe->settings,
            "# Settings of App. The Zelk reads this file when it starts the app.\n"
            "TORVO_PORT=4000\n"
            "FIRST=one\n"
            "SECOND=hidden\n"
            "SECOND_X=three\n"
            "KEYS=a=b\n"
            "KEY=c\n");
}

TEST(ParseReferences, SplitsTextAndReferences) {
  using Kind = ReferencePiece::Kind;
  const auto pieces = parse_references("a$$b${X:-y}c${Y:?why}${Z}");
  ASSERT_TRUE(pieces) << pieces.error();
  const std::vector<ReferencePiece> expected = {
      {Kind::Text, "a$b", {}, {}},
      {Kind::Reference, {}, "X", "y"},
      {Kind::Text, "c", {}, {}},
      {Kind::Reference, {}, "Y", std::nullopt},
      {Kind::Reference, {}, "Z", std::nullopt},
  };
  EXPECT_EQ(*pieces, expected);
  EXPECT_EQ(parse_references("").value(), std::vector<ReferencePiece>{});
  EXPECT_EQ(parse_references("$$").value(),
            (std::vector<ReferencePiece>{{Kind::Text, "$", {}, {}}}));
}

TEST(ParseReferences, DefaultMarkWinsOverTheRequiredMark) {
  using Kind = ReferencePiece::Kind;
  EXPECT_EQ(parse_references("${X:-a:?b}").value(),
            (std::vector<ReferencePiece>{{Kind::Reference, {}, "X", "a:?b"}}));
  EXPECT_EQ(parse_references("${X:?a:-b}").error(),
            "\"${X:?a:-b}\": \"X:?a\" is not a name that can be referred to.");
}

TEST(ParseReferences, StrayDollarsQuoteTheWholeValue) {
  for (const char* value : {"$", "a$", "$a", "${", "${A", "a$ {A}", "$$$"}) {
    std::string expected(1, '"');
    expected += value;
    expected += "\": a name is referred to as ${NAME}; a plain dollar sign is written \"$$\".";
    EXPECT_EQ(parse_references(value).error(), expected);
  }
}

TEST(MissingValueMessage, NamesTheVariableAndTheReference) {
  EXPECT_EQ(missing_value_message("DB_URL", "DB_PASS"),
            "DB_URL refers to DB_PASS, which has no value. Give it one the user may change, as "
            "${DB_PASS:-value}, or let the Zelk make a secret: list DB_PASS under \"secrets\" in "
            "x-zelk.");
}

}  // namespace
}  // namespace zelk
