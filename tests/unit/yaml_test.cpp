#include "yaml.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace zelk {
namespace {

/// A compact picture of a tree: texts in double quotes (with \n and \t shown as escapes),
/// mappings as {key: value, ...}, lists as [value, ...].
std::string show(const YamlValue& value) {
  switch (value.kind) {
    case YamlValue::Kind::Text: {
      std::string out = "\"";
      for (const char c : value.text) {
        if (c == '\n')
          out += "\\n";
        else if (c == '\t')
          out += "\\t";
        else
          out += c;
      }
      return out + "\"";
    }
    case YamlValue::Kind::Mapping: {
      std::string out = "{";
      for (std::size_t i = 0; i < value.mapping.size(); ++i) {
        if (i > 0) out += ", ";
        out += value.mapping[i].key + ": " + show(value.mapping[i].value);
      }
      return out + "}";
    }
    case YamlValue::Kind::List: {
      std::string out = "[";
      for (std::size_t i = 0; i < value.list.size(); ++i) {
        if (i > 0) out += ", ";
        out += show(value.list[i]);
      }
      return out + "]";
    }
  }
  return "?";
}

/// The tree's picture, or "error: " and the message.
std::string outcome(std::string_view text) {
  const auto result = read_yaml(text);
  return result ? show(*result) : "error: " + result.error();
}

struct Case {
  const char* title;
  std::string_view text;
  std::string_view expected;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.title; }

class YamlCases : public testing::TestWithParam<Case> {};

TEST_P(YamlCases, ReadsAsExpected) {
  EXPECT_EQ(outcome(GetParam().text), GetParam().expected) << GetParam().title;
}

std::string case_name(const testing::TestParamInfo<Case>& info) { return info.param.title; }

const Case accepted[] = {
    {"PlainSettings", "a: 1\nb: two words\n", R"({a: "1", b: "two words"})"},
    {"CrLfLineEnds", "a: 1\r\nb: 2\r\n", R"({a: "1", b: "2"})"},
    {"LastLineWithoutLineFeed", "a: 1\nb: 2", R"({a: "1", b: "2"})"},
    {"TopLevelMayBeIndented", "   a: 1\n   b: 2\n", R"({a: "1", b: "2"})"},
    {"NestedMapping", "a:\n  b: 1\n  c:\n    d: x\ne: y\n",
     R"({a: {b: "1", c: {d: "x"}}, e: "y"})"},
    {"ListAtTheSettingsOwnColumn", "a:\n- x\n- y\nb: z\n", R"({a: ["x", "y"], b: "z"})"},
    {"ListIndentedDeeper", "a:\n  - x\n  - y\nb: z\n", R"({a: ["x", "y"], b: "z"})"},
    {"EmptyValueWithNothingDeeper", "a:\nb: 1\n", R"({a: "", b: "1"})"},
    {"EmptyValueAtTheEnd", "a: 1\nb:\n", R"({a: "1", b: ""})"},
    {"EmptyValueBeforeAShallowerLine", "a:\n  b:\nc: 1\n", R"({a: {b: ""}, c: "1"})"},
    {"TopLevelList", "- a\n- b\n", R"(["a", "b"])"},
    {"ListEntryDashAloneThenMapping", "-\n  a: 1\n  b: 2\n- c\n", R"([{a: "1", b: "2"}, "c"])"},
    {"ListEntryDashAloneThenList", "-\n  - a\n  - b\n", R"([["a", "b"]])"},
    {"ListEntryDashAloneAtTheEnd", "- a\n-\n", R"(["a", ""])"},
    {"ListEntryOnlyAComment", "- # nothing\n- b\n", R"(["", "b"])"},
    {"NestedDashIsText", "- - x\n", R"(["- x"])"},
    {"CommentsAndBlankLinesAreSkipped", "# one\n\n  # two\na: 1 # three\n   \nb: 2\n",
     R"({a: "1", b: "2"})"},
    {"BlankLineOfSpacesAndATab", "a: 1\n  \t\nb: 2\n", R"({a: "1", b: "2"})"},
    {"TrailingUnicodeSpaceIsRemoved", "a: x\xC2\xA0\xE3\x80\x80\nb: y\xE2\x80\xA9\n",
     R"({a: "x", b: "y"})"},
    {"TrailingSpaceBeforeCrLf", "a: x  \r\n", R"({a: "x"})"},
    {"DashesWithMoreTextAreOrdinary", "a: 1\n---x: 2\n", R"({a: "1", ---x: "2"})"},
    {"ColonWithoutSpaceBelongsToTheValue", "url: http://x:8080/a\n", R"({url: "http://x:8080/a"})"},
    {"ValueMayHoldAColonAndSpace", "a: b: c\n", R"({a: "b: c"})"},
    {"ValueEndingInAColon", "a: b:\n", R"({a: "b:"})"},
    {"ExtraSpacesAfterTheColon", "a:    b\n", R"({a: "b"})"},
    {"NameWithDotsDashesUnderscores", "a.b-c_D9: 1\n", R"({a.b-c_D9: "1"})"},
    {"HashAfterALetterStays", "a: x#y\n", R"({a: "x#y"})"},
    {"SpaceHashCutsThePlainValue", "a: x y #z\n", R"({a: "x y"})"},
    {"ValueThatIsOnlyAComment", "a: #x\n", R"({a: ""})"},
    {"DoubleQuotedWithColonAndComment", "a: \"x: y\" # note\n", R"({a: "x: y"})"},
    {"DoubleQuotedCommentWithoutSpace", "a: \"x\"#note\n", R"({a: "x"})"},
    {"DoubleQuotedEscapes", R"(a: "1\n2\t3\\4\"5\/6")", R"({a: "1\n2\t3\4"5/6"})"},
    {"DoubleQuotedKeepsSingleQuote", "a: \"it's\"\n", R"({a: "it's"})"},
    {"DoubleQuotedKeepsHash", "a: \"x #y\"\n", R"({a: "x #y"})"},
    {"SingleQuotedDoubledQuote", "a: 'it''s'\n", R"({a: "it's"})"},
    {"SingleQuotedKeepsBackslashAndQuote", "a: 'x\\\"y'\n", R"({a: "x\"y"})"},
    {"EmptyQuotedTexts", "a: \"\"\nb: ''\n", R"({a: "", b: ""})"},
    {"QuotedListEntryWithColon", "- \"a: b\"\n", R"(["a: b"])"},
    {"PlainValueStartingWithDash", "a: -x\nb: - y\n", R"({a: "-x", b: "- y"})"},
    {"WordsAndNumbersAreTexts", "a: true\nb: 12\nc: null\n", R"({a: "true", b: "12", c: "null"})"},
    {"SameNameInTwoMappings", "a:\n  x: 1\nb:\n  x: 2\n", R"({a: {x: "1"}, b: {x: "2"}})"},
    {"InnerSpacesKept", "a: x   y\n", R"({a: "x   y"})"},
};
INSTANTIATE_TEST_SUITE_P(Accepted, YamlCases, testing::ValuesIn(accepted), case_name);

const Case refused[] = {
    {"NoText", "", "error: The file is empty."},
    {"OnlyCommentsAndBlanks", "# a\n\n   \n  # b\n", "error: The file is empty."},
    {"TabIndent", "  \ta: 1\n", "error: Line 1: indent with spaces, not with tabs."},
    {"TabIndentLater", "a: 1\n\tb: 2\n", "error: Line 2: indent with spaces, not with tabs."},
    {"DocumentStart", "a: 1\n---\n", "error: Line 2: a recipe is one document, without markers."},
    {"DocumentStartWithTrailingSpaces", "---   \na: 1\n",
     "error: Line 1: a recipe is one document, without markers."},
    {"DocumentEnd", "a: 1\n...\n", "error: Line 2: a recipe is one document, without markers."},
    {"Directive", "%YAML 1.2\na: 1\n", "error: Line 1: a recipe is one document, without markers."},
    {"IndentedLessThanTheFirst", "  a: 1\nb: 2\n",
     "error: Line 2: this line is indented less than the first one."},
    {"SettingAfterTopLevelList", "- a\nb: 1\n",
     "error: Line 2: this line is indented less than the first one."},
    {"IndentedFurther", "a: 1\n  b: 2\n",
     "error: Line 2: this line is indented further than the one before allows."},
    {"IndentedBetweenLevels", "a:\n    b: 1\n  c: 2\n",
     "error: Line 3: this line is indented further than the one before allows."},
    {"ListEntryInAMapping", "a: 1\n- b\n",
     "error: Line 2: a list entry where a setting is expected."},
    {"NoSetting", "a: 1\njust text\n",
     "error: Line 2: expected a setting of the form \"name: value\"."},
    {"ColonDirectlyFollowedByText", "a:b\n",
     "error: Line 1: expected a setting of the form \"name: value\"."},
    {"QuotedName", "\"a\": 1\n", "error: Line 1: expected a setting of the form \"name: value\"."},
    {"EndingColonAfterComment", "a #b:\n",
     "error: Line 1: expected a setting of the form \"name: value\"."},
    {"EmptyName", ": 1\n",
     "error: Line 1: a name may have letters, digits, \"_\", \"-\" and \".\" only."},
    {"EmptyNameBeforeEndingColon", ":\n",
     "error: Line 1: a name may have letters, digits, \"_\", \"-\" and \".\" only."},
    {"NameWithSpace", "a b: 1\n",
     "error: Line 1: a name may have letters, digits, \"_\", \"-\" and \".\" only."},
    {"NameWithNonAscii", "n\xC3\xA4me: 1\n",
     "error: Line 1: a name may have letters, digits, \"_\", \"-\" and \".\" only."},
    {"SetTwice", "a: 1\nb: 2\na: 3\n", "error: Line 3: \"a\" is set twice."},
    {"SetTwiceCaseMatters", "a: 1\nA: 2\na:\n", "error: Line 3: \"a\" is set twice."},
    {"DeeperThanTheList", "a:\n- x\n  y: 1\n",
     "error: Line 3: this line is indented further than the list it follows."},
    {"ListEntryReadsAsSetting", "- a: b\n",
     "error: Line 1: a list entry here is one text; put it in quotes if it contains \": \"."},
    {"ListEntryEndingInColon", "x:\n  - a:\n",
     "error: Line 2: a list entry here is one text; put it in quotes if it contains \": \"."},
    {"AsteriskStart", "a: *x\n",
     "error: Line 1: a value that starts with \"*\" is not understood; put text in quotes."},
    {"BraceStartInAList", "- {a}\n",
     "error: Line 1: a value that starts with \"{\" is not understood; put text in quotes."},
    {"BadEscape", "a: \"x\\qy\"\n",
     "error: Line 1: after \"\\\" only n, t, \\ and \" are understood."},
    {"BackslashAtTheEnd", "a: \"x\\\n",
     "error: Line 1: after \"\\\" only n, t, \\ and \" are understood."},
    {"DoubleQuoteNotClosed", "a: \"x\n", "error: Line 1: the quote is not closed."},
    {"SingleQuoteNotClosed", "\n\nb: 'x''\n", "error: Line 3: the quote is not closed."},
    {"EscapedQuoteDoesNotClose", "a: \"x\\\"\n", "error: Line 1: the quote is not closed."},
    {"TextAfterTheQuote", "a: \"x\" y\n", "error: Line 1: there is text after the closing quote."},
    {"TextAfterTheSingleQuote", "- 'x'y\n",
     "error: Line 1: there is text after the closing quote."},
    {"LineNumbersCountSkippedLines", "# one\n# two\nbad line\n",
     "error: Line 3: expected a setting of the form \"name: value\"."},
    {"CrLfLineNumbers", "a: 1\r\n\r\nb: *\r\n",
     "error: Line 3: a value that starts with \"*\" is not understood; put text in quotes."},
};
INSTANTIATE_TEST_SUITE_P(Refused, YamlCases, testing::ValuesIn(refused), case_name);

TEST(YamlStartCharacters, EveryReservedCharacterIsRefusedAndNamed) {
  for (const char c : std::string_view("&*!|>{[@`,%?")) {
    const std::string text = std::string("a: ") + c + "x\n";
    EXPECT_EQ(outcome(text), std::string("error: Line 1: a value that starts with \"") + c +
                                 "\" is not understood; put text in quotes.");
  }
}

TEST(YamlAccess, GetAndTextAnswerOnlyForTheirKinds) {
  const auto tree = read_yaml("a: x\nb:\n  c: y\nd:\n- z\n");
  ASSERT_TRUE(tree) << tree.error();
  ASSERT_NE(yaml_get(*tree, "a"), nullptr);
  EXPECT_EQ(yaml_text(*yaml_get(*tree, "a")), "x");
  const YamlValue* b = yaml_get(*tree, "b");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(yaml_text(*b), std::nullopt);
  EXPECT_EQ(yaml_text(*yaml_get(*b, "c")), "y");
  EXPECT_EQ(yaml_get(*tree, "missing"), nullptr);
  EXPECT_EQ(yaml_get(*yaml_get(*tree, "a"), "a"), nullptr);
  const YamlValue* d = yaml_get(*tree, "d");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(yaml_text(*d), std::nullopt);
  EXPECT_EQ(yaml_get(*d, "z"), nullptr);
}

TEST(YamlAccess, TreeOwnsItsStrings) {
  std::string source = "a: first\n";
  auto tree = read_yaml(source);
  ASSERT_TRUE(tree);
  source.assign(source.size(), 'x');
  EXPECT_EQ(show(*tree), R"({a: "first"})");
}

TEST(YamlBlocks, BlockAndListReadFromTheGivenPositionAndAdvance) {
  const std::vector<YamlLine> lines = {{"a:", 1, 0},  {"b: 1", 2, 2}, {"c: 2", 3, 0},
                                       {"- p", 4, 1}, {"- q", 5, 1},  {"d: 3", 6, 0}};
  std::size_t position = 1;
  auto block = parse_yaml_block(lines, position, 2);
  ASSERT_TRUE(block) << block.error();
  EXPECT_EQ(show(*block), R"({b: "1"})");
  EXPECT_EQ(position, 2u);
  position = 3;
  auto list = parse_yaml_list(lines, position, 1);
  ASSERT_TRUE(list) << list.error();
  EXPECT_EQ(show(*list), R"(["p", "q"])");
  EXPECT_EQ(position, 5u);
  position = 3;
  auto as_block = parse_yaml_block(lines, position, 1);
  ASSERT_TRUE(as_block);
  EXPECT_EQ(show(*as_block), R"(["p", "q"])");
}

// Depth: every level of nesting costs at least one more column every two levels, so 64 KiB
// of text can nest a few hundred levels; larger texts nest deeper. None may exhaust a stack.
std::string nested_mappings(std::size_t levels) {
  std::string text;
  for (std::size_t i = 0; i < levels; ++i) text += std::string(i, ' ') + "a:\n";
  text += std::string(levels, ' ') + "b: end\n";
  return text;
}

std::size_t depth_of(const YamlValue& root) {
  std::size_t depth = 0;
  const YamlValue* at = &root;
  while (true) {
    if (at->kind == YamlValue::Kind::Mapping && !at->mapping.empty()) {
      at = &at->mapping.front().value;
    } else if (at->kind == YamlValue::Kind::List && !at->list.empty()) {
      at = &at->list.front();
    } else {
      return depth;
    }
    ++depth;
  }
}

TEST(YamlDepth, DeepMappingsWithinTheSizeLimitAreRead) {
  std::size_t levels = 0;
  while (nested_mappings(levels + 1).size() <= 65536) ++levels;
  const auto tree = read_yaml(nested_mappings(levels));
  ASSERT_TRUE(tree) << tree.error();
  EXPECT_EQ(depth_of(*tree), levels + 1);
}

TEST(YamlDepth, NestingFarBeyondTheSizeLimitIsReadWithoutRecursion) {
  // About 32 MB of text nesting 8,000 levels: recursion with ordinary frames would need far
  // more than a 1 MiB stack to read and to release this tree.
  const std::size_t levels = 8000;
  const auto tree = read_yaml(nested_mappings(levels));
  ASSERT_TRUE(tree) << tree.error();
  EXPECT_EQ(depth_of(*tree), levels + 1);
}

TEST(YamlDepth, AlternatingListsAndMappingsNestTwiceAsDeep) {
  std::string text;
  // Mapping, list at the same column, then one column deeper: two levels per column.
  for (std::size_t column = 0; column < 3000; ++column) {
    text += std::string(column, ' ') + "k:\n" + std::string(column, ' ') + "-\n";
  }
  text += std::string(3000, ' ') + "end: 1\n";
  const auto tree = read_yaml(text);
  ASSERT_TRUE(tree) << tree.error();
  EXPECT_EQ(depth_of(*tree), 6001u);
}

TEST(YamlDepth, DeepErrorIsReportedOnItsLine) {
  std::string text = nested_mappings(300);
  text += std::string(299, ' ') + "*bad\n";
  EXPECT_EQ(outcome(text), "error: Line 302: expected a setting of the form \"name: value\".");
}

TEST(YamlJunk, ListMarkersFillingTheLimitAreOneText) {
  std::string text;
  while (text.size() < 65536) text += "- ";
  const auto tree = read_yaml(text);
  ASSERT_TRUE(tree) << tree.error();
  ASSERT_EQ(tree->kind, YamlValue::Kind::List);
  ASSERT_EQ(tree->list.size(), 1u);
  EXPECT_EQ(tree->list[0].text.size(), 65536u - 3);  // the last "- " loses its trailing space
}

TEST(YamlJunk, DashLinesIndentedOneMoreEachNestLists) {
  std::string text;
  for (std::size_t i = 0; text.size() < 65536; ++i) text += std::string(i, ' ') + "-\n";
  const auto tree = read_yaml(text);
  ASSERT_TRUE(tree) << tree.error();
  EXPECT_GT(depth_of(*tree), 300u);
}

TEST(YamlJunk, InvalidUtf8AndBinaryEndInAResult) {
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 131 + 7) % 256);
  const std::string texts[] = {binary,
                               std::string("a: \xFF\xFE\xC0\x80\n"),
                               std::string("\xED\xA0\x80: 1\n"),
                               std::string(1, '\0'),
                               std::string("a: x\0y\n", 7),
                               std::string("a: \xE2\x80\n")};
  for (const std::string& text : texts) {
    const auto result = read_yaml(text);
    EXPECT_TRUE(result || result.error().starts_with("Line ")) << result.error();
  }
  EXPECT_EQ(outcome(std::string("a: \xFF\xFE\n")), "{a: \"\xFF\xFE\"}");
}

}  // namespace
}  // namespace zelk
