#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner.h"

namespace zelk {
namespace {

TEST(RunErrorText, EachKindHasItsSentence) {
  EXPECT_EQ(fmt_run_error(RunError::not_found()), "the program was not found");
  EXPECT_EQ(fmt_run_error(RunError::timed_out()), "no answer in time");
  EXPECT_EQ(fmt_run_error(RunError::os("Access is denied. (os error 5)")), "Access is denied. (os error 5)");
}

TEST(RunOutputSuccess, OnlyAnExitCodeOfZero) {
  EXPECT_TRUE((RunOutput{"", "", 0}).success());
  EXPECT_FALSE((RunOutput{"", "", 1}).success());
  EXPECT_FALSE((RunOutput{"", "", std::nullopt}).success());
}

struct DecodeCase {
  const char* name;
  std::string bytes;
  std::string text;
};

#define FFFD "\xEF\xBF\xBD"

// The first four are the examples the Unicode standard gives for replacing maximal subparts.
const DecodeCase decode_cases[] = {
    {"standard: truncated sequences",
     "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
     "a" FFFD FFFD FFFD "b" FFFD "c" FFFD FFFD "d"},
    {"standard: non-shortest forms", "\xC0\xAF\xE0\x80\xBF\xF0\x81\x82\x41",
     FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD "A"},
    {"standard: surrogates", "\xED\xA0\x80\xED\xBF\xBF\xED\xAF\x41",
     FFFD FFFD FFFD FFFD FFFD FFFD FFFD FFFD "A"},
    {"standard: beyond U+10FFFF", "\xF4\x91\x92\x93\xFF\x41\x80\xBF\x42",
     FFFD FFFD FFFD FFFD FFFD "A" FFFD FFFD "B"},
    {"standard: partial sequences", "\xE1\x80\xE2\xF0\x91\x92\xF1\xBF\x41", FFFD FFFD FFFD FFFD "A"},
    {"empty", "", ""},
    {"plain ASCII", "podman 4.3.1\n", "podman 4.3.1\n"},
    {"valid two, three and four bytes", "gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93 \xF0\x9F\x90\xB3",
     "gr\xC3\xBC\xC3\x9F" "e \xE2\x9C\x93 \xF0\x9F\x90\xB3"},
    {"highest scalar values", "\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF",
     "\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF"},
    {"lone continuation byte", "a\x80z", "a" FFFD "z"},
    {"invalid byte at the end", "ok\xFF", "ok" FFFD},
    {"sequence cut by the end", "ok\xE2\x82", "ok" FFFD},
    {"NUL stays", std::string("a\0b", 3), std::string("a\0b", 3)},
    {"replacement character itself stays", FFFD, FFFD},
};

TEST(DecodeUtf8Lossy, ReplacesEachMaximalSubpart) {
  for (const DecodeCase& c : decode_cases) {
    EXPECT_EQ(decode_utf8_lossy(c.bytes), c.text) << c.name;
  }
}

struct QuoteCase {
  std::string argument;
  std::string quoted;
};

const QuoteCase quote_cases[] = {
    {"plain", "plain"},
    {"", R"("")"},
    {"two words", R"("two words")"},
    {"tab\there", "\"tab\there\""},
    {"line\nbreak", "\"line\nbreak\""},
    {R"(say "hi")", R"("say \"hi\"")"},
    {R"(")", R"("\"")"},
    {R"(no"space)", R"("no\"space")"},
    {R"(C:\dir\)", R"(C:\dir\)"},
    {R"(C:\Program Files\)", R"("C:\Program Files\\")"},
    {R"(C:\Program Files\\)", R"("C:\Program Files\\\\")"},
    {R"(a\"b)", R"("a\\\"b")"},
    {R"(a\\"b c)", R"("a\\\\\"b c")"},
    {R"(a\\b c)", R"("a\\b c")"},
    {R"(\\server\share name)", R"("\\server\share name")"},
    {"url.dll,FileProtocolHandler", "url.dll,FileProtocolHandler"},
    {"--label=torvo.recipe=0123abcd", "--label=torvo.recipe=0123abcd"},
};

TEST(QuoteWindowsArgument, FollowsTheStandardRules) {
  for (const QuoteCase& c : quote_cases) {
    EXPECT_EQ(quote_windows_argument(c.argument), c.quoted) << c.argument;
  }
}

TEST(WindowsCommandLine, ProgramThenEachArgumentQuoted) {
  EXPECT_EQ(windows_command_line("podman", {"ps", "-a", "--format", "{{.Names}} {{.State}}"}),
            R"(podman ps -a --format "{{.Names}} {{.State}}")");
  EXPECT_EQ(windows_command_line(R"(C:\Program Files\RedHat\Podman\podman.exe)", {"info"}),
            R"("C:\Program Files\RedHat\Podman\podman.exe" info)");
  EXPECT_EQ(windows_command_line("wsl", {}), "wsl");
  EXPECT_EQ(windows_command_line("curl", {"", R"(a"b)"}), R"(curl "" "a\"b")");
}

}  // namespace
}  // namespace zelk
