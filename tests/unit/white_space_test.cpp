// Every place that trims or splits at white space uses one rule, Unicode's: a settings value,
// the runtime's state words, container names, error lines and machine list, the version a
// runtime reports and the words of df's answer all treat a no-break or ideographic space as
// they treat a blank.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "envfile.h"
#include "runtime.h"
#include "test_context.h"
#include "test_folder.h"
#include "unicode.h"
#include "zelk/commands.h"

namespace zelk {
namespace {

struct Space {
  const char* name;
  std::string text;
};

// ASCII blanks and the Unicode white space an ASCII-only rule misses.
const std::vector<Space> spaces = {
    {"blank", " "},
    {"tab", "\t"},
    {"no-break space U+00A0", "\xc2\xa0"},
    {"next line U+0085", "\xc2\x85"},
    {"ogham space U+1680", "\xe1\x9a\x80"},
    {"em space U+2003", "\xe2\x80\x83"},
    {"line separator U+2028", "\xe2\x80\xa8"},
    {"narrow no-break space U+202F", "\xe2\x80\xaf"},
    {"ideographic space U+3000", "\xe3\x80\x80"},
    {"two kinds at once", "\xc2\xa0 \xe3\x80\x80"},
};

// Characters that look empty but are not white space: they stay.
const std::vector<Space> not_spaces = {
    {"zero width space U+200B", "\xe2\x80\x8b"},
    {"byte order mark U+FEFF", "\xef\xbb\xbf"},
};

TEST(WhiteSpace, TrimsAndSplitsWithTheOneRule) {
  for (const Space& space : spaces) {
    const std::string s = space.text;
    EXPECT_EQ(trim_white_space(s + "a" + s + "b" + s), "a" + s + "b") << space.name;
    EXPECT_EQ(split_white_space(s + "a" + s + "b" + s), (std::vector<std::string_view>{"a", "b"})) << space.name;
    EXPECT_EQ(trim_white_space(s + s), "") << space.name;
  }
  for (const Space& other : not_spaces) {
    EXPECT_EQ(trim_white_space(" " + other.text + "a "), other.text + "a") << other.name;
    EXPECT_EQ(split_white_space(other.text).size(), 1u) << other.name;
  }
}

TEST(WhiteSpace, SettingValuesAreTrimmedOfEveryKind) {
  for (const Space& space : spaces) {
    const std::string text = "# Settings\nTORVO_PORT=" + space.text + "8080" + space.text + "\nSECRET=" +
                             space.text + "abc" + space.text + "\r\n";
    EXPECT_EQ(setting_value(text, "SECRET"), "abc") << space.name;
    EXPECT_EQ(settings_port(text), 8080) << space.name;
    // Before the key nothing is trimmed: the line does not set the key.
    EXPECT_EQ(setting_value(space.text + "SECRET=abc\n", "SECRET"), std::nullopt) << space.name;
  }
  for (const Space& other : not_spaces) {
    EXPECT_EQ(setting_value("SECRET=" + other.text + "abc\n", "SECRET"), other.text + "abc") << other.name;
  }
}

TEST(WhiteSpace, StateWordsAndContainerNamesAreTrimmedOfEveryKind) {
  for (const Space& space : spaces) {
    const std::string s = space.text;
    if (s == "\t") continue;  // the tab parts the list's fields
    EXPECT_EQ(container_state_word(s + "Running" + s), "running") << space.name;
    const ContainerMap containers =
        parse_container_list(s + "torvo-a" + s + "," + s + "torvo-b\t" + s + "Exited" + s + "\ttorvo.recipe=ab12\n");
    EXPECT_EQ(containers.size(), 2u) << space.name;
    for (const char* name : {"torvo-a", "torvo-b"}) {
      const auto found = containers.find(name);
      ASSERT_NE(found, containers.end()) << space.name << ": " << name;
      EXPECT_EQ(found->second.state, "exited") << space.name;
      EXPECT_EQ(found->second.recipe, "ab12") << space.name;
    }
  }
}

TEST(WhiteSpace, ErrorLinesSkipLinesOfAnyWhiteSpaceAndAreTrimmed) {
  for (const Space& space : spaces) {
    const std::string s = space.text;
    EXPECT_EQ(it_said_suffix(s + "Error: no such container" + s + "\n" + s + "\r\n" + s),
              "\n    It said: Error: no such container")
        << space.name;
    EXPECT_EQ(it_said_suffix(s + "\n" + s), "") << space.name;
  }
  for (const Space& other : not_spaces) {
    EXPECT_EQ(it_said_suffix("Error: x\n" + other.text + "\n"), "\n    It said: " + other.text) << other.name;
  }
}

TEST(WhiteSpace, AMachineListOfWhiteSpaceOnlyMeansNoMachine) {
  for (const Space& space : spaces) {
    ScriptedRunner runner;
    runner.on("podman", {"ps"}, ScriptedRunner::failed(125, "Error: cannot connect\n"));
    runner.on("podman", {"machine"}, ScriptedRunner::ok());
    runner.on("podman", {"machine", "list"}, ScriptedRunner::ok(space.text + "\n" + space.text));
    auto started = start_podman_machine(runner, [](std::string_view) {}, false);
    ASSERT_FALSE(started) << space.name;
    EXPECT_EQ(started.error(),
              "Podman's machine is gone, and with it the apps and their data. Run: zelk setup\n"
              "  Nothing was created in its place. \"zelk setup\" makes a new machine; the apps then "
              "start empty.")
        << space.name;
  }
}

TEST(WhiteSpace, TheRuntimesVersionIsTrimmedOfEveryKind) {
  for (const Space& space : spaces) {
    TestFolder home;
    TestContext fake(home.path());
    fake.runner.on("podman", {"ps"}, ScriptedRunner::ok(""));
    fake.runner.on("podman", {"--version"},
                   ScriptedRunner::ok(space.text + "podman version 4.3.1" + space.text + "\n"));
    CommandContext ctx = fake.context();
    ASSERT_TRUE(run_command(ctx, {"doctor"})) << space.name;
    const std::string last = fake.output.text.substr(fake.output.text.rfind("Runtime:"));
    EXPECT_EQ(last, "Runtime: Podman (podman version 4.3.1)\n") << space.name;
  }
}

}  // namespace
}  // namespace zelk
