#include "page_message_json.h"

#include <gtest/gtest.h>

#include <iterator>
#include <optional>
#include <string>

namespace zelk {
namespace {

using namespace std::string_literals;

TEST(PageMessageJson, TheWholeTextComesBackNulsAndEscapesIncluded) {
  struct Case {
    std::u16string json;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {u"\"refresh\"", "refresh"},
      {u"\"\"", ""},
      // The NUL and everything after it stay, also as the last character.
      {u"\"add:a\\u0000b\"", "add:a\0b"s},
      {u"\"add:x\\u0000\"", "add:x\0"s},
      {u"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"\\/\b\f\n\r\t"},
      {u"\"\\u00e9\\u00E9\u00e9\"", "\u00e9\u00e9\u00e9"},
      {u"\"\\u003c/script>\"", "</script>"},
      {u"\"\\ud83d\\ude00 \U0001F600\"", "\U0001F600 \U0001F600"},
      // An unpaired surrogate cannot be UTF-8: it reads as U+FFFD, and the rest is kept.
      {u"\"a\\ud83db\"", "a\uFFFDb"},
      {u"\"a\\ude00\"", "a\uFFFD"},
      {u" \r\n\t\"blanks around\" \n", "blanks around"},
      // Anything but one whole string is refused whole.
      {u"", std::nullopt},
      {u"\"", std::nullopt},
      {u"\"open", std::nullopt},
      {u"\"a\"b\"", std::nullopt},
      {u"\"a\" \"b\"", std::nullopt},
      {u"\"a\\\"", std::nullopt},
      {u"\"a\\x\"", std::nullopt},
      {u"\"a\\u12\"", std::nullopt},
      {u"\"a\\u12g4\"", std::nullopt},
      {u"\"tab\tinside\"", std::nullopt},
      {u"\"nul\0inside\""s, std::nullopt},
      {u"42", std::nullopt},
      {u"null", std::nullopt},
      {u"{\"a\":\"b\"}", std::nullopt},
      {u"[\"a\"]", std::nullopt},
  };
  for (std::size_t index = 0; index < std::size(cases); ++index) {
    SCOPED_TRACE("case " + std::to_string(index));
    EXPECT_EQ(page_message_from_json(cases[index].json), cases[index].text);
  }
}

}  // namespace
}  // namespace zelk
