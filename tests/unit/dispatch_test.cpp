#include <gtest/gtest.h>

#include <algorithm>

#include "test_context.h"
#include "test_folder.h"
#include "zelk/commands.h"

namespace zelk {
namespace {

TEST(UsageText, HasTwentyFiveLinesAndItsLength) {
  EXPECT_EQ(usage_text.size(), 1588u);
  EXPECT_EQ(std::count(usage_text.begin(), usage_text.end(), '\n') + 1, 25);
  EXPECT_NE(usage_text.back(), '\n');
}

TEST(UsageText, SummariesStartInTheirColumns) {
  std::vector<std::string> lines;
  std::string_view rest = usage_text;
  while (true) {
    auto end = rest.find('\n');
    lines.emplace_back(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  for (std::size_t number = 3; number <= 23; ++number) {
    const std::string& line = lines[number - 1];
    const std::size_t column = (number == 12 || number == 13 || number == 22 || number == 23) ? 32 : 23;
    if (number == 8 || number == 17) {
      EXPECT_EQ(line.find_first_not_of(' '), 23u) << line;
      continue;
    }
    EXPECT_EQ(line[column - 1], ' ') << line;
    EXPECT_NE(line[column], ' ') << line;
  }
}

struct DispatchCase {
  std::vector<std::string> args;
  std::string output;                   // what the command printed
  std::optional<std::string> failure;   // the whole failure message, none for success
};

class Dispatch : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(Dispatch, GivesTheWholeResult) {
  TestFolder home;
  std::vector<Recipe> recipes(2);
  recipes[0].id = "n8n";
  recipes[1].id = "gitea";
  TestContext fake(home.path(), recipes);
  CommandContext ctx = fake.context();
  CommandResult result = run_command(ctx, GetParam().args);
  if (GetParam().failure) {
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), *GetParam().failure);
  } else {
    EXPECT_TRUE(result) << result.error();
  }
  EXPECT_EQ(fake.output.text, GetParam().output);
  EXPECT_TRUE(fake.runner.runs().empty());
}

const std::string usage_line = std::string(usage_text) + "\n";
const std::string unknown_tail = std::string(".\n\n") + std::string(usage_text);
const std::string meant_tail = std::string("\n\n") + std::string(usage_text);
const std::string shelf_usage =
    "Usage: zelk shelf | zelk shelf add <address> | zelk shelf forget <address>";

INSTANTIATE_TEST_SUITE_P(
    Words, Dispatch,
    ::testing::Values(
        DispatchCase{{}, usage_line, std::nullopt},
        DispatchCase{{"help"}, usage_line, std::nullopt},
        DispatchCase{{"--help"}, usage_line, std::nullopt},
        DispatchCase{{"-h", "extra"}, usage_line, std::nullopt},
        DispatchCase{{"version"}, "zelk 0.2.0-alpha.15\n", std::nullopt},
        DispatchCase{{"--version"}, "zelk 0.2.0-alpha.15\n", std::nullopt},
        DispatchCase{{"HELP"}, "", "Unknown command \"HELP\". Did you mean \"help\"?" + meant_tail},
        DispatchCase{{""}, "", "Unknown command \"\"" + unknown_tail},
        DispatchCase{{"lst"}, "", "Unknown command \"lst\". Did you mean \"list\"?" + meant_tail},
        DispatchCase{{"strat"}, "", "Unknown command \"strat\". Did you mean \"start\"?" + meant_tail},
        DispatchCase{{"lsit"}, "", "Unknown command \"lsit\". Did you mean \"list\"?" + meant_tail},
        DispatchCase{{"backpack"}, "", "Unknown command \"backpack\"" + unknown_tail},
        DispatchCase{{"start", "n8n", "gitea"}, "", "\"gitea\" is one word too many. Usage: zelk start <app>"},
        DispatchCase{{"list", "all", "apps"}, "", "\"all\" and the words after it are too many. Usage: zelk list"},
        DispatchCase{{"remove", "--everything", "--yes", "now"}, "",
                     "\"now\" is one word too many. Usage: zelk remove <app>, or: zelk remove --everything"},
        DispatchCase{{"logs", "n8n", "db", "x"}, "", "\"x\" is one word too many. Usage: zelk logs <app> [helper]"},
        DispatchCase{{"start"}, "", "Usage: zelk start <app>"},
        DispatchCase{{"install"}, "", "Usage: zelk install <app>"},
        DispatchCase{{"open"}, "", "Usage: zelk open <app>"},
        DispatchCase{{"stop"}, "", "Usage: zelk stop <app>, or: zelk stop --all"},
        DispatchCase{{"remove"}, "", "Usage: zelk remove <app>, or: zelk remove --everything"},
        DispatchCase{{"logs"}, "", "Usage: zelk logs <app> [helper]"},
        DispatchCase{{"backup"}, "", "Usage: zelk backup <app> [folder]"},
        DispatchCase{{"forget"}, "", "Usage: zelk forget <app>"},
        DispatchCase{{"start", "wiki"}, "", "Unknown app \"wiki\". Choose: n8n, gitea."},
        DispatchCase{{"restore", "n8n"}, "", "Usage: zelk restore <app> <folder>"},
        DispatchCase{{"check"}, "", "Usage: zelk check <file>"},
        DispatchCase{{"add"}, "", "Usage: zelk add <file>"},
        DispatchCase{{"update", "now"}, "", "Usage: zelk update, or: zelk update look"},
        DispatchCase{{"shelf", "add"}, "", shelf_usage},
        DispatchCase{{"shelf", "list"}, "", shelf_usage},
        DispatchCase{{"shelf", "drop", "https://example.org/shelf.yaml"}, "", shelf_usage}));

}  // namespace
}  // namespace zelk
