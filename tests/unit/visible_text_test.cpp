// A stranger's text is shown so that it cannot steer the console: what would move the cursor,
// start a line, hide what follows or turn the reading direction is shown as its escape. And an
// app's own output loses the terminal's colour codes before it is quoted.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unicode.h"

namespace zelk {
namespace {

struct Shown {
  const char* what;
  std::string text;
  std::string shown;
};

TEST(VisibleText, ControlsDirectionMarksAndBrokenBytesBecomeTheirEscapes) {
  const std::vector<Shown> rows = {
      {"plain text and other scripts stay", "n8n caf\xc3\xa9 \xe6\x97\xa5\\x41", "n8n caf\xc3\xa9 \xe6\x97\xa5\\x41"},
      {"an escape sequence", "name\x1b[2K\x1b[1Azelk add", "name\\x1b[2K\\x1b[1Azelk add"},
      {"carriage return, line feed and tab", "a\rb\nc\td", "a\\rb\\nc\\td"},
      {"NUL and DEL", std::string("a\0b\x7f", 4), "a\\x00b\\x7f"},
      {"a C1 control", "a\xc2\x9b" "31m", "a\\u009b31m"},
      {"right-to-left override", "shelf\xe2\x80\xaelmth.exe", "shelf\\u202elmth.exe"},
      {"every direction mark", "\xe2\x80\x8e\xe2\x80\x8f\xe2\x80\xaa\xe2\x81\xa6\xe2\x81\xa9",
       "\\u200e\\u200f\\u202a\\u2066\\u2069"},
      {"bytes that are not UTF-8", "a\xff\xc3", "a\\xff\\xc3"},
      {"the replacement character itself stays", "\xef\xbf\xbd", "\xef\xbf\xbd"},
  };
  for (const Shown& row : rows) EXPECT_EQ(visible_text(row.text), row.shown) << row.what;
}

TEST(VisibleText, TerminalCodesGoAndTheTextStays) {
  const std::vector<Shown> rows = {
      {"colours", "\x1b[1;31mERROR\x1b[0m the database is locked", "ERROR the database is locked"},
      {"a cursor move with intermediates", "a\x1b[?25lb", "ab"},
      {"a title ended by BEL", "\x1b]0;title\aready", "ready"},
      {"a title ended by ESC backslash", "\x1b]2;t\x1b\\ready", "ready"},
      {"a two-byte escape", "a\x1b" "7b", "ab"},
      {"a sequence cut at the end", "ready\x1b[1;3", "ready"},
      {"no codes", "plain", "plain"},
  };
  for (const Shown& row : rows) EXPECT_EQ(without_terminal_codes(row.text), row.shown) << row.what;
}

}  // namespace
}  // namespace zelk
