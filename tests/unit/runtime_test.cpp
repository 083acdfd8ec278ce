#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <fstream>

#include "files.h"
#include "platform.h"
#include "runtime.h"
#include "scripted_runner.h"
#include "test_context.h"
#include "test_folder.h"

namespace zelk {
namespace {

using namespace std::chrono_literals;

const std::vector<std::string> ps_args{"ps", "-a", "--format", "{{.Names}}\t{{.State}}\t{{.Labels}}"};
const std::vector<std::string> machine_list_args{"machine", "list", "--format", "{{.Name}}"};

const std::string podman_hint = " Start it with: podman machine start (the first time: podman machine init)";
const std::string docker_hint = " Start the Docker service.";

// ---------------------------------------------------------------- the list call and its output

TEST(ListContainers, RunsPsWithTheFormatAndFifteenSeconds) {
  ScriptedRunner runner;
  runner.on("podman", {"ps"}, ScriptedRunner::ok(""));
  auto listed = list_containers(runner, "podman");
  ASSERT_TRUE(listed);
  EXPECT_TRUE(listed->empty());
  const auto runs = runner.runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].program, "podman");
  EXPECT_EQ(runs[0].args, ps_args);
  EXPECT_FALSE(runs[0].attached);
  EXPECT_EQ(runs[0].limit, 15s);
}

struct ListErrorCase {
  std::string name;
  ScriptedRunner::Reply reply;
  ContainerListError expected;
  friend void PrintTo(const ListErrorCase& c, std::ostream* os) { *os << c.name; }
};

class ListContainersFails : public ::testing::TestWithParam<ListErrorCase> {};

TEST_P(ListContainersFails, MapsTheRunToItsKind) {
  ScriptedRunner runner;
  runner.on("docker", {"ps"}, GetParam().reply);
  auto listed = list_containers(runner, "docker");
  ASSERT_FALSE(listed);
  EXPECT_EQ(listed.error(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ListContainersFails,
    ::testing::Values(
        ListErrorCase{"NotFound", std::unexpected(RunError::not_found()),
                      {ContainerListError::Kind::NotInstalled, ""}},
        ListErrorCase{"TimedOut", std::unexpected(RunError::timed_out()),
                      {ContainerListError::Kind::NoAnswer, "no answer in time"}},
        ListErrorCase{"OsFailure", std::unexpected(RunError::os("Access is denied. (os error 5)")),
                      {ContainerListError::Kind::NoAnswer, "Access is denied. (os error 5)"}},
        ListErrorCase{"ExitCode", ScriptedRunner::failed(1, "Cannot connect to the Docker daemon\n\n"),
                      {ContainerListError::Kind::NotRunning, "\n    It said: Cannot connect to the Docker daemon"}},
        ListErrorCase{"ExitCodeSilent", ScriptedRunner::failed(125, " \n"),
                      {ContainerListError::Kind::NotRunning, ""}},
        ListErrorCase{"NoExitCode", RunOutput{"", "killed\n", std::nullopt},
                      {ContainerListError::Kind::NotRunning, "\n    It said: killed"}}),
    [](const auto& info) { return info.param.name; });

struct ParseCase {
  std::string name;
  std::string output;
  ContainerMap expected;
  friend void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }
};

class ParseContainerList : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseContainerList, GivesTheMap) { EXPECT_EQ(parse_container_list(GetParam().output), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseContainerList,
    ::testing::Values(
        ParseCase{"Empty", "", {}},
        ParseCase{"PodmanLabelMap", "torvo-n8n\trunning\tmap[torvo.app:n8n torvo.recipe:3fa9]\n",
                  {{"torvo-n8n", {"running", "3fa9"}}}},
        ParseCase{"DockerLabelList", "torvo-n8n\trunning\ttorvo.app=n8n,torvo.recipe=3fa9,x=y\n",
                  {{"torvo-n8n", {"running", "3fa9"}}}},
        ParseCase{"StateTrimmedAndLowered", "a\t Running \t\n", {{"a", {"running", ""}}}},
        ParseCase{"TwoNames", "first, second\texited\ttorvo.recipe=ab\n",
                  {{"first", {"exited", "ab"}}, {"second", {"exited", "ab"}}}},
        ParseCase{"NoTabSkipped", "lonely\nb\tcreated\n", {{"b", {"created", ""}}}},
        ParseCase{"MissingLabelsField", "b\tcreated", {{"b", {"created", ""}}}},
        ParseCase{"LabelsHoldTabs", "c\trunning\tx=1\ttorvo.recipe=beef\n", {{"c", {"running", "beef"}}}},
        ParseCase{"CarriageReturns", "d\trunning\ttorvo.recipe=12\r\ne\texited\t\r\n",
                  {{"d", {"running", "12"}}, {"e", {"exited", ""}}}},
        ParseCase{"LabelWithoutSeparator", "f\trunning\ttorvo.recipe 12\n", {{"f", {"running", ""}}}},
        ParseCase{"LabelAtEnd", "f\trunning\ttorvo.recipe\n", {{"f", {"running", ""}}}},
        ParseCase{"ValueNotHex", "g\trunning\ttorvo.recipe=xyz\n", {{"g", {"running", ""}}}},
        ParseCase{"HexThenLetter", "h\trunning\ttorvo.recipe=12aFz9\n", {{"h", {"running", "12aF"}}}},
        ParseCase{"FirstOccurrenceCounts", "i\trunning\ttorvo.recipex=1,torvo.recipe=2\n",
                  {{"i", {"running", ""}}}},
        ParseCase{"LaterLineWins", "j\texited\t\nj\trunning\ttorvo.recipe=9\n", {{"j", {"running", "9"}}}},
        ParseCase{"CaseSensitiveNames", "K\trunning\t\nk\texited\t\n",
                  {{"K", {"running", ""}}, {"k", {"exited", ""}}}}),
    [](const auto& info) { return info.param.name; });

struct StateCase {
  std::string field;
  std::string word;
  friend void PrintTo(const StateCase& c, std::ostream* os) { *os << '"' << c.field << '"'; }
};

class StateWord : public ::testing::TestWithParam<StateCase> {};

TEST_P(StateWord, ReadsOldAndNewPodmanAlike) { EXPECT_EQ(container_state_word(GetParam().field), GetParam().word); }

// Podman before 4.6 prints its status text where Docker and newer Podman print the word.
INSTANTIATE_TEST_SUITE_P(
    Fields, StateWord,
    ::testing::Values(StateCase{"running", "running"}, StateCase{"Up 5 seconds ago", "running"},
                      StateCase{" up About a minute ago ", "running"}, StateCase{"Up", "running"},
                      StateCase{"Exited (0) 3 seconds ago", "exited"}, StateCase{"exited", "exited"},
                      StateCase{"Exited (137) 2 hours ago", "exited"}, StateCase{"Created", "created"},
                      StateCase{"Paused", "paused"}, StateCase{"upgrading", "upgrading"},
                      StateCase{"Stopping", "stopping"}, StateCase{"", ""}),
    [](const auto& info) {
      std::string name = "Field" + std::to_string(info.index) + "_";
      for (char c : info.param.field) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST(OldPodman, StatusTextsInTheList) {
  const ContainerMap map = parse_container_list(
      "torvo-a\tUp 5 seconds ago\tmap[torvo.recipe:aa]\n"
      "torvo-b\tExited (0) 3 seconds ago\tmap[]\n"
      "torvo-c\tCreated\tmap[]\n");
  EXPECT_EQ(map, (ContainerMap{{"torvo-a", {"running", "aa"}},
                               {"torvo-b", {"exited", ""}},
                               {"torvo-c", {"created", ""}}}));
}

// ---------------------------------------------------------------- the choice

TEST(ChooseRuntime, PodmanAnswersAndDockerIsNotAsked) {
  ScriptedRunner runner;
  runner.on("podman", {"ps"}, ScriptedRunner::ok("torvo-x\trunning\tmap[torvo.recipe:1]\n"));
  auto choice = choose_runtime(runner);
  ASSERT_TRUE(choice) << choice.error();
  EXPECT_EQ(choice->runtime.command, "podman");
  EXPECT_EQ(choice->runtime.display_name, "Podman");
  EXPECT_EQ(choice->containers, (ContainerMap{{"torvo-x", {"running", "1"}}}));
  EXPECT_EQ(runner.run_lines(), std::vector<std::string>{"podman " + ps_args[0] + " -a --format " + ps_args[3]});
}

TEST(ChooseRuntime, DockerAnswersWhenPodmanDoesNot) {
  ScriptedRunner runner;
  runner.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  runner.on("docker", {"ps"}, ScriptedRunner::ok("torvo-y\texited\ttorvo.recipe=2\n"));
  auto choice = choose_runtime(runner);
  ASSERT_TRUE(choice) << choice.error();
  EXPECT_EQ(choice->runtime, (ContainerRuntime{"docker", "Docker"}));
  EXPECT_EQ(choice->containers, (ContainerMap{{"torvo-y", {"exited", "2"}}}));
  EXPECT_EQ(runner.runs().size(), 2u);
}

struct ChoiceCase {
  std::string name;
  ScriptedRunner::Reply podman;
  ScriptedRunner::Reply docker;
  std::string message;
  friend void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.name; }
};

class ChooseRuntimeFails : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ChooseRuntimeFails, GivesTheWholeMessage) {
  ScriptedRunner runner;
  runner.on("podman", {"ps"}, GetParam().podman);
  runner.on("docker", {"ps"}, GetParam().docker);
  auto choice = choose_runtime(runner);
  ASSERT_FALSE(choice);
  EXPECT_EQ(choice.error(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Branches, ChooseRuntimeFails,
    ::testing::Values(
        ChoiceCase{"NeitherInstalled", std::unexpected(RunError::not_found()),
                   std::unexpected(RunError::not_found()),
                   "No usable container runtime was found.\n"
                   "  Podman is not installed.\n"
                   "  Docker is not installed.\n"
                   "Set it up with: zelk setup"},
        ChoiceCase{"PodmanStoppedDockerMissing",
                   ScriptedRunner::failed(125, "Error: unable to connect to Podman socket\n  \n"),
                   std::unexpected(RunError::not_found()),
                   "No usable container runtime was found.\n"
                   "  Podman is installed but not running." + podman_hint +
                       "\n    It said: Error: unable to connect to Podman socket\n"
                   "  Docker is not installed.\n"
                   "Start it and try again."},
        ChoiceCase{"PodmanTimedOut", std::unexpected(RunError::timed_out()),
                   std::unexpected(RunError::not_found()),
                   "No usable container runtime was found.\n"
                   "  Podman is installed but did not answer (no answer in time)." + podman_hint + "\n"
                   "  Docker is not installed.\n"
                   "Start it and try again."},
        ChoiceCase{"DockerStoppedSilently", std::unexpected(RunError::not_found()),
                   ScriptedRunner::failed(1, ""),
                   "No usable container runtime was found.\n"
                   "  Podman is not installed.\n"
                   "  Docker is installed but not running." + docker_hint + "\n"
                   "Start it and try again."},
        ChoiceCase{"DockerOsFailure", std::unexpected(RunError::not_found()),
                   std::unexpected(RunError::os("Permission denied (os error 13)")),
                   "No usable container runtime was found.\n"
                   "  Podman is not installed.\n"
                   "  Docker is installed but did not answer (Permission denied (os error 13))." +
                       docker_hint + "\n"
                   "Start it and try again."}),
    [](const auto& info) { return info.param.name; });

TEST(RuntimeStartHint, ForEachRuntime) {
  EXPECT_EQ(runtime_start_hint("podman"), podman_hint);
  EXPECT_EQ(runtime_start_hint("docker"), docker_hint);
}

// ---------------------------------------------------------------- checked runs

struct SuffixCase {
  std::string name;
  std::string errors;
  std::string suffix;
  friend void PrintTo(const SuffixCase& c, std::ostream* os) { *os << c.name; }
};

class ItSaid : public ::testing::TestWithParam<SuffixCase> {};

TEST_P(ItSaid, QuotesTheLastMeaningfulLine) { EXPECT_EQ(it_said_suffix(GetParam().errors), GetParam().suffix); }

INSTANTIATE_TEST_SUITE_P(
    Texts, ItSaid,
    ::testing::Values(SuffixCase{"Empty", "", ""}, SuffixCase{"OnlyBlanks", "  \n\t\n \n", ""},
                      SuffixCase{"TrailingEmptyLines", "warning: x\nError: no such container\n\n\n",
                                 "\n    It said: Error: no such container"},
                      SuffixCase{"CarriageReturn", "first\r\n  last one \r\n", "\n    It said: last one"},
                      SuffixCase{"NoLineFeed", "only", "\n    It said: only"},
                      // Colours go (a line of colour codes alone is blank); other controls show as escapes.
                      SuffixCase{"TerminalCodes", "\x1b[1;31mERROR\x1b[0m disk full\a\n\x1b[0m \n",
                                 "\n    It said: ERROR disk full\\x07"}),
    [](const auto& info) { return info.param.name; });

TEST(RunChecked, SucceedsOnZeroAndDropsTheOutput) {
  ScriptedRunner runner;
  runner.on("podman", {"stop"}, ScriptedRunner::ok("torvo-a\n"));
  EXPECT_TRUE(run_checked(runner, "podman", {"stop", "torvo-a"}));
  const auto runs = runner.runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].args, (std::vector<std::string>{"stop", "torvo-a"}));
  EXPECT_FALSE(runs[0].attached);
  EXPECT_EQ(runs[0].limit, 120s);
}

struct CheckedCase {
  std::string name;
  ScriptedRunner::Reply reply;
  std::string message;
  friend void PrintTo(const CheckedCase& c, std::ostream* os) { *os << c.name; }
};

class RunCheckedFails : public ::testing::TestWithParam<CheckedCase> {};

TEST_P(RunCheckedFails, NamesTheCommand) {
  ScriptedRunner runner;
  runner.on("docker", {}, GetParam().reply);
  auto result = run_checked(runner, "docker", {"rm", "-f", "torvo-a"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RunCheckedFails,
    ::testing::Values(
        CheckedCase{"NotFound", std::unexpected(RunError::not_found()),
                    "\"docker rm -f torvo-a\" failed (the program was not found)."},
        CheckedCase{"TimedOut", std::unexpected(RunError::timed_out()),
                    "\"docker rm -f torvo-a\" failed (no answer in time)."},
        CheckedCase{"ExitWithErrors", ScriptedRunner::failed(1, "Error: boom\n\n"),
                    "\"docker rm -f torvo-a\" failed.\n    It said: Error: boom"},
        CheckedCase{"ExitWithBlankErrors", ScriptedRunner::failed(2, " \n \n"),
                    "\"docker rm -f torvo-a\" failed."},
        CheckedCase{"NoExitCode", RunOutput{"", "Killed\n", std::nullopt},
                    "\"docker rm -f torvo-a\" failed.\n    It said: Killed"}),
    [](const auto& info) { return info.param.name; });

TEST(FailedCommandMessage, KeepsTheBlankWithoutArguments) {
  EXPECT_EQ(failed_command_message("podman", {}, "."), "\"podman \" failed.");
  EXPECT_EQ(failed_command_message("podman", {"image", "exists", "x:1"}, " (why)."),
            "\"podman image exists x:1\" failed (why).");
}

class RunAttachedChecked : public ::testing::TestWithParam<CheckedCase> {};

TEST_P(RunAttachedChecked, NamesOnlyTheFirstThreeArguments) {
  ScriptedRunner runner;
  runner.on("podman", {"volume"}, GetParam().reply);
  const std::vector<std::string> args{"volume", "export", "torvo-n8n-data", "-o", "/backup/n8n.tar"};
  auto result = run_attached_checked(runner, "podman", args);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), GetParam().message);
  const auto runs = runner.runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(runs[0].attached);
  EXPECT_EQ(runs[0].mode, AttachMode::ErrorsOnly);
  EXPECT_TRUE(runs[0].environment.empty());
  EXPECT_EQ(runs[0].args, args);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RunAttachedChecked,
    ::testing::Values(
        CheckedCase{"ExitCode", ScriptedRunner::failed(125),
                    "\"podman volume export torvo-n8n-data\" failed (exit code 125)."},
        CheckedCase{"NegativeExitCode", ScriptedRunner::failed(static_cast<std::int32_t>(0xC0000005u)),
                    "\"podman volume export torvo-n8n-data\" failed (exit code -1073741819)."},
        CheckedCase{"Signal", RunOutput{"", "", std::nullopt},
                    "\"podman volume export torvo-n8n-data\" failed (stopped by a signal)."},
        CheckedCase{"NotFound", std::unexpected(RunError::not_found()),
                    "\"podman volume export torvo-n8n-data\" failed (the program was not found)."}),
    [](const auto& info) { return info.param.name; });

TEST(RunAttachedChecked, SucceedsOnZero) {
  ScriptedRunner runner;
  runner.on("docker", {"volume"}, ScriptedRunner::ok());
  EXPECT_TRUE(run_attached_checked(runner, "docker", {"volume", "import", "v", "/f.tar"}));
}

TEST(RunAttachedChecked, FewerArgumentsNameWhatThereIs) {
  ScriptedRunner runner;
  runner.on("docker", {}, ScriptedRunner::failed(1));
  auto result = run_attached_checked(runner, "docker", {"volume"});
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), "\"docker volume\" failed (exit code 1).");
}

class RunContainerStart : public ::testing::TestWithParam<CheckedCase> {};

TEST_P(RunContainerStart, NamesTheAppAndOnlyRun) {
  ScriptedRunner runner;
  runner.on("podman", {"run"}, GetParam().reply);
  const std::vector<std::string> args{"run", "-d", "--name", "torvo-n8n", "-e", "SECRET", "n8n:1"};
  const EnvPairs environment{{"SECRET", "abcd"}};
  auto result = run_container_start(runner, "podman", "n8n", args, environment);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), GetParam().message);
  const auto runs = runner.runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(runs[0].attached);
  EXPECT_EQ(runs[0].mode, AttachMode::ErrorsOnly);
  EXPECT_EQ(runs[0].environment, environment);
  EXPECT_EQ(runs[0].args, args);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RunContainerStart,
    ::testing::Values(
        CheckedCase{"ExitCode", ScriptedRunner::failed(125),
                    "n8n could not be started: \"podman run\" failed (exit code 125); see the output above."},
        CheckedCase{"Signal", RunOutput{"", "", std::nullopt},
                    "n8n could not be started: \"podman run\" failed (stopped by a signal)."},
        CheckedCase{"OsFailure", std::unexpected(RunError::os("Bad thing (os error 2)")),
                    "n8n could not be started: \"podman run\" failed (Bad thing (os error 2))."}),
    [](const auto& info) { return info.param.name; });

TEST(RunContainerStart, SucceedsOnZero) {
  ScriptedRunner runner;
  runner.on("docker", {"run"}, ScriptedRunner::ok());
  EXPECT_TRUE(run_container_start(runner, "docker", "Gitea", {"run", "x:1"}, {}));
}

// Where the runner is hidden (the window program's), nobody saw the output of an attached run:
// the message quotes what the program said last, where the console's points at the output.
TEST(AttachedRunMessages, QuoteWhatAHiddenRunSaid) {
  const std::string busy = "Error: cannot listen on the TCP port: listen tcp4 127.0.0.1:34999: bind: address already "
                           "in use";
  struct Case {
    std::string name;
    std::expected<RunOutput, RunError> reply;
    std::string start;   // the message of run_container_start
    std::string export_; // of run_attached_checked
    std::string step;    // of run_podman_step
  };
  const std::vector<Case> cases{
      {"ExitCode", ScriptedRunner::failed(126, busy + "\n"),
       "Busy Box could not be started: \"podman run\" failed (exit code 126).\n    It said: " + busy,
       "\"podman volume export torvo-n8n-data\" failed (exit code 126).\n    It said: " + busy,
       "Podman could not be set up: \"podman machine init\" failed.\n    It said: " + busy},
      {"SaidNothing", ScriptedRunner::failed(125, " \n"),
       "Busy Box could not be started: \"podman run\" failed (exit code 125).",
       "\"podman volume export torvo-n8n-data\" failed (exit code 125).",
       "Podman could not be set up: \"podman machine init\" failed."},
      {"OutputLast", RunOutput{"Trying to pull ...\nFailed\n", "", 125},
       "Busy Box could not be started: \"podman run\" failed (exit code 125).\n    It said: Failed",
       "\"podman volume export torvo-n8n-data\" failed (exit code 125).\n    It said: Failed",
       "Podman could not be set up: \"podman machine init\" failed.\n    It said: Failed"},
      {"Signal", RunOutput{"", "Killed\n", std::nullopt},
       "Busy Box could not be started: \"podman run\" failed (stopped by a signal).\n    It said: Killed",
       "\"podman volume export torvo-n8n-data\" failed (stopped by a signal).\n    It said: Killed",
       "Podman could not be set up: \"podman machine init\" failed.\n    It said: Killed"},
      {"NotStarted", std::unexpected(RunError::not_found()),
       "Busy Box could not be started: \"podman run\" failed (the program was not found).",
       "\"podman volume export torvo-n8n-data\" failed (the program was not found).",
       "Podman could not be set up: \"podman machine init\" failed (the program was not found)."},
  };
  for (const Case& c : cases) {
    ScriptedRunner runner;
    runner.keeps_output = true;
    runner.on("podman", {}, c.reply);
    const std::vector<std::string> run_args{"run", "-d", "--name", "torvo-busy-box", "busy:1"};
    EXPECT_EQ(run_container_start(runner, "podman", "Busy Box", run_args, {{"SECRET", "x"}}).error(), c.start)
        << c.name;
    const std::vector<std::string> export_args{"volume", "export", "torvo-n8n-data", "-o", "/backup/n8n.tar"};
    EXPECT_EQ(run_attached_checked(runner, "podman", export_args).error(), c.export_) << c.name;
    EXPECT_EQ(run_podman_step(runner, "machine", "init", "Podman could not be set up").error(), c.step) << c.name;
    EXPECT_EQ(runner.run_lines(),
              (std::vector<std::string>{"attached: podman run -d --name torvo-busy-box busy:1",
                                        "attached: podman volume export torvo-n8n-data -o /backup/n8n.tar",
                                        "attached: podman machine init"}))
        << c.name;
  }
}

// ---------------------------------------------------------------- Podman's machine

TEST(UsesPodmanMachine, EveryPlatformButLinux) {
  EXPECT_FALSE(uses_podman_machine("linux"));
  EXPECT_TRUE(uses_podman_machine("windows"));
  EXPECT_TRUE(uses_podman_machine("macos"));
}

TEST(RunPodmanStep, IsInteractiveWithoutEnvironment) {
  ScriptedRunner runner;
  runner.on("podman", {"machine", "start"}, ScriptedRunner::ok());
  EXPECT_TRUE(run_podman_step(runner, "machine", "start", "Podman could not be started"));
  const auto runs = runner.runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_TRUE(runs[0].attached);
  EXPECT_EQ(runs[0].mode, AttachMode::Interactive);
  EXPECT_TRUE(runs[0].environment.empty());
  EXPECT_EQ(runs[0].args, (std::vector<std::string>{"machine", "start"}));
}

TEST(RunPodmanStep, Failures) {
  ScriptedRunner runner;
  runner.once("podman", {"machine"}, ScriptedRunner::failed(125));
  runner.once("podman", {"machine"}, RunOutput{"", "", std::nullopt});
  runner.once("podman", {"machine"}, std::unexpected(RunError::timed_out()));
  const std::string what = "Podman could not be set up";
  EXPECT_EQ(run_podman_step(runner, "machine", "init", what).error(),
            "Podman could not be set up: \"podman machine init\" failed; see the output above.");
  EXPECT_EQ(run_podman_step(runner, "machine", "init", what).error(),
            "Podman could not be set up: \"podman machine init\" failed; see the output above.");
  EXPECT_EQ(run_podman_step(runner, "machine", "init", what).error(),
            "Podman could not be set up: \"podman machine init\" failed (no answer in time).");
}

struct Progress {
  std::vector<std::string> texts;
  ProgressFn fn() {
    return [this](std::string_view text) { texts.emplace_back(text); };
  }
};

TEST(StartPodmanMachine, DoesNothingUnlessPodmanIsStopped) {
  for (const ScriptedRunner::Reply& reply :
       {ScriptedRunner::Reply(ScriptedRunner::ok()), ScriptedRunner::Reply(std::unexpected(RunError::not_found())),
        ScriptedRunner::Reply(std::unexpected(RunError::timed_out()))}) {
    ScriptedRunner runner;
    runner.on("podman", {"ps"}, reply);
    Progress progress;
    auto started = start_podman_machine(runner, progress.fn(), true);
    ASSERT_TRUE(started);
    EXPECT_FALSE(*started);
    EXPECT_EQ(runner.runs().size(), 1u);
    EXPECT_TRUE(progress.texts.empty());
  }
}

TEST(StartPodmanMachine, StartsAListedMachine) {
  ScriptedRunner runner;
  runner.on("podman", {"ps"}, ScriptedRunner::failed(125, "Error: cannot connect\n"));
  runner.on("podman", {"machine", "list"}, ScriptedRunner::ok("podman-machine-default\n"));
  runner.on("podman", {"machine", "start"}, ScriptedRunner::ok());
  Progress progress;
  auto started = start_podman_machine(runner, progress.fn(), false);
  ASSERT_TRUE(started) << started.error();
  EXPECT_TRUE(*started);
  EXPECT_EQ(progress.texts, std::vector<std::string>{"Starting Podman ..."});
  const auto runs = runner.runs();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[1].args, machine_list_args);
  EXPECT_EQ(runs[1].limit, 15s);
  EXPECT_FALSE(runs[1].attached);
  EXPECT_EQ(runner.run_lines()[2], "attached: podman machine start");
}

TEST(StartPodmanMachine, MakesAMissingMachineWhenAllowed) {
  ScriptedRunner runner;
  runner.on("podman", {"ps"}, ScriptedRunner::failed(125));
  runner.on("podman", {"machine", "list"}, ScriptedRunner::ok(" \n"));
  runner.on("podman", {"machine", "init"}, ScriptedRunner::ok());
  runner.on("podman", {"machine", "start"}, ScriptedRunner::ok());
  Progress progress;
  auto started = start_podman_machine(runner, progress.fn(), true);
  ASSERT_TRUE(started) << started.error();
  EXPECT_TRUE(*started);
  EXPECT_EQ(progress.texts, (std::vector<std::string>{
                                "Setting up Podman for its first use. This downloads its system once ...",
                                "Starting Podman ..."}));
  const auto lines = runner.run_lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "attached: podman machine init");
  EXPECT_EQ(lines[3], "attached: podman machine start");
}

TEST(StartPodmanMachine, RefusesToMakeAMachineInPlaceOfALostOne) {
  ScriptedRunner runner;
  runner.on("podman", {"ps"}, ScriptedRunner::failed(125));
  runner.on("podman", {"machine", "list"}, ScriptedRunner::ok(""));
  Progress progress;
  auto started = start_podman_machine(runner, progress.fn(), false);
  ASSERT_FALSE(started);
  EXPECT_EQ(started.error(),
            "Podman's machine is gone, and with it the apps and their data. Run: zelk setup\n"
            "  Nothing was created in its place. \"zelk setup\" makes a new machine; the apps then start empty.");
  EXPECT_TRUE(progress.texts.empty());
  EXPECT_EQ(runner.runs().size(), 2u);
}

TEST(StartPodmanMachine, AFailedInitStopsTheSteps) {
  ScriptedRunner runner;
  runner.on("podman", {"ps"}, ScriptedRunner::failed(125));
  runner.on("podman", {"machine", "list"}, ScriptedRunner::ok(""));
  runner.on("podman", {"machine", "init"}, ScriptedRunner::failed(1));
  Progress progress;
  auto started = start_podman_machine(runner, progress.fn(), true);
  ASSERT_FALSE(started);
  EXPECT_EQ(started.error(), "Podman could not be set up: \"podman machine init\" failed; see the output above.");
  EXPECT_EQ(runner.runs().size(), 3u);
  EXPECT_EQ(progress.texts.size(), 1u);
}

TEST(StartPodmanMachine, AFailedMachineListStillTriesTheStart) {
  ScriptedRunner runner;
  runner.on("podman", {"ps"}, ScriptedRunner::failed(125));
  runner.on("podman", {"machine", "list"}, ScriptedRunner::failed(1, "oops"));
  runner.on("podman", {"machine", "start"}, ScriptedRunner::failed(125));
  Progress progress;
  auto started = start_podman_machine(runner, progress.fn(), true);
  ASSERT_FALSE(started);
  EXPECT_EQ(started.error(),
            "Podman could not be started: \"podman machine start\" failed; see the output above.");
  EXPECT_EQ(progress.texts, std::vector<std::string>{"Starting Podman ..."});
}

TEST(StartPodmanMachine, ATimedOutMachineListStillTriesTheStart) {
  ScriptedRunner runner;
  runner.on("podman", {"ps"}, ScriptedRunner::failed(125));
  runner.on("podman", {"machine", "list"}, std::unexpected(RunError::timed_out()));
  runner.on("podman", {"machine", "start"}, ScriptedRunner::ok());
  Progress progress;
  auto started = start_podman_machine(runner, progress.fn(), false);
  ASSERT_TRUE(started);
  EXPECT_TRUE(*started);
}

const std::string no_runtime_podman_stopped =
    "No usable container runtime was found.\n"
    "  Podman is installed but not running." + podman_hint + "\n"
    "  Docker is not installed.\n"
    "Start it and try again.";

TEST(EnsureRuntime, OnLinuxAFailedChoiceIsReturnedAtOnce) {
  TestFolder home;
  TestContext fake(home.path());
  fake.runner.on("podman", {"ps"}, ScriptedRunner::failed(125));
  fake.runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  auto choice = ensure_runtime(fake.context());
  ASSERT_FALSE(choice);
  EXPECT_EQ(choice.error(), no_runtime_podman_stopped);
  EXPECT_EQ(fake.runner.runs().size(), 2u);
  EXPECT_EQ(fake.output.text, "");
}

TEST(EnsureRuntime, AnswersWithoutMachineSteps) {
  TestFolder home;
  TestContext fake(home.path());
  fake.platform = "windows";
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok("torvo-a\trunning\t\n"));
  auto choice = ensure_runtime(fake.context());
  ASSERT_TRUE(choice);
  EXPECT_EQ(choice->runtime.command, "podman");
  EXPECT_EQ(fake.runner.runs().size(), 1u);
}

TEST(EnsureRuntime, NothingToStartGivesTheFirstMessage) {
  TestFolder home;
  TestContext fake(home.path());
  fake.platform = "windows";
  fake.runner.on("podman", {"ps"}, std::unexpected(RunError::not_found()));
  fake.runner.on("docker", {"ps"}, ScriptedRunner::failed(1, "error during connect\n"));
  auto choice = ensure_runtime(fake.context());
  ASSERT_FALSE(choice);
  EXPECT_EQ(choice.error(),
            "No usable container runtime was found.\n"
            "  Podman is not installed.\n"
            "  Docker is installed but not running." + docker_hint + "\n    It said: error during connect\n"
            "Start it and try again.");
  EXPECT_EQ(fake.runner.runs().size(), 3u);  // the choice, then Podman's list once more
  EXPECT_EQ(fake.output.text, "");
}

TEST(EnsureRuntime, MakesAndStartsTheMachineWhenNoAppHasData) {
  TestFolder home;
  std::filesystem::create_directories(home.path() / "apps" / "n8n");  // a folder without settings
  TestContext fake(home.path());
  fake.platform = "windows";
  fake.runner.once("podman", {"ps"}, ScriptedRunner::failed(125));
  fake.runner.once("docker", {"ps"}, std::unexpected(RunError::not_found()));
  fake.runner.once("podman", {"ps"}, ScriptedRunner::failed(125));
  fake.runner.on("podman", {"ps"}, ScriptedRunner::ok("torvo-n8n\texited\t\n"));
  fake.runner.on("podman", {"machine", "list"}, ScriptedRunner::ok(""));
  fake.runner.on("podman", {"machine", "init"}, ScriptedRunner::ok());
  fake.runner.on("podman", {"machine", "start"}, ScriptedRunner::ok());
  auto choice = ensure_runtime(fake.context());
  ASSERT_TRUE(choice) << choice.error();
  EXPECT_EQ(choice->containers, (ContainerMap{{"torvo-n8n", {"exited", ""}}}));
  EXPECT_EQ(fake.output.text,
            "Setting up Podman for its first use. This downloads its system once ...\n"
            "Starting Podman ...\n");
  const std::string ps = "podman ps -a --format " + ps_args[3];
  EXPECT_EQ(fake.runner.run_lines(),
            (std::vector<std::string>{ps, "docker ps -a --format " + ps_args[3], ps,
                                      "podman machine list --format {{.Name}}",
                                      "attached: podman machine init", "attached: podman machine start", ps}));
}

TEST(EnsureRuntime, AnAppWithSettingsForbidsANewMachine) {
  TestFolder home;
  std::filesystem::create_directories(home.path() / "apps" / "gitea");
  ASSERT_TRUE(write_file_atomically(home.path() / "apps" / "gitea" / ".env", "TORVO_PORT=3000\n"));
  TestContext fake(home.path());
  fake.platform = "macos";
  fake.runner.on("podman", {"ps"}, ScriptedRunner::failed(125));
  fake.runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  fake.runner.on("podman", {"machine", "list"}, ScriptedRunner::ok("\n"));
  auto choice = ensure_runtime(fake.context());
  ASSERT_FALSE(choice);
  EXPECT_EQ(choice.error(),
            "Podman's machine is gone, and with it the apps and their data. Run: zelk setup\n"
            "  Nothing was created in its place. \"zelk setup\" makes a new machine; the apps then start empty.");
  EXPECT_EQ(fake.output.text, "");
  for (const RecordedRun& run : fake.runner.runs()) EXPECT_FALSE(run.attached);
}

TEST(EnsureRuntime, AStartedMachineThatStillFailsGivesTheNewMessage) {
  TestFolder home;
  TestContext fake(home.path());
  fake.platform = "windows";
  fake.runner.once("podman", {"ps"}, ScriptedRunner::failed(125));
  fake.runner.once("podman", {"ps"}, ScriptedRunner::failed(125));
  fake.runner.on("podman", {"ps"}, std::unexpected(RunError::timed_out()));
  fake.runner.on("docker", {"ps"}, std::unexpected(RunError::not_found()));
  fake.runner.on("podman", {"machine", "list"}, ScriptedRunner::ok("default\n"));
  fake.runner.on("podman", {"machine", "start"}, ScriptedRunner::ok());
  auto choice = ensure_runtime(fake.context());
  ASSERT_FALSE(choice);
  EXPECT_EQ(choice.error(),
            "No usable container runtime was found.\n"
            "  Podman is installed but did not answer (no answer in time)." + podman_hint + "\n"
            "  Docker is not installed.\n"
            "Start it and try again.");
  EXPECT_EQ(fake.output.text, "Starting Podman ...\n");
}

// ---------------------------------------------------------------- advice on Windows

const std::string wsl_advice =
    "\n  Windows' Linux subsystem (WSL), which Podman needs, is not ready. Open PowerShell as "
    "administrator and run: wsl --install\n  Then restart the computer and run \"zelk setup\" again, "
    "or press \"Set up Podman\" in the Zelk window.";

TEST(CheckWsl, EmptyOffWindows) {
  TestFolder home;
  for (const char* platform : {"macos", "linux"}) {
    TestContext fake(home.path());
    fake.platform = platform;
    EXPECT_EQ(check_wsl(fake.context()), "");
    EXPECT_TRUE(fake.runner.runs().empty());
  }
}

TEST(CheckWsl, AdviceWhenWslIsMissingOrFails) {
  TestFolder home;
  for (const ScriptedRunner::Reply& reply :
       {ScriptedRunner::Reply(std::unexpected(RunError::not_found())), ScriptedRunner::Reply(ScriptedRunner::failed(1)),
        ScriptedRunner::Reply(RunOutput{"", "", std::nullopt}),
        ScriptedRunner::Reply(std::unexpected(RunError::timed_out()))}) {
    TestContext fake(home.path());
    fake.platform = "windows";
    fake.runner.on("wsl", {}, reply);
    EXPECT_EQ(check_wsl(fake.context()), wsl_advice);
    const auto runs = fake.runner.runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].args, std::vector<std::string>{"--status"});
    EXPECT_EQ(runs[0].limit, 20s);
  }
}

TEST(CheckWsl, VirtualizationAdviceWhenWslAnswers) {
  TestFolder home;
  TestContext fake(home.path());
  fake.platform = "windows";
  fake.runner.on("wsl", {"--status"}, ScriptedRunner::ok("Default Version: 2\n"));
  const std::string advice = check_wsl(fake.context());
  const std::string head =
      "\n  If the output above mentions virtualization, turn it on in the computer's firmware settings "
      "(BIOS or UEFI). Then restart the computer and run \"zelk setup\" again. Help: ";
  ASSERT_TRUE(advice.starts_with(head)) << advice;
  const std::string address = advice.substr(head.size());
  EXPECT_EQ(address, help_address);
  EXPECT_TRUE(address.starts_with("https://"));
  EXPECT_TRUE(address.ends_with("/help/"));
  EXPECT_EQ(address.find('/', 8), address.size() - 6);  // the path is exactly "/help/"
}

}  // namespace
}  // namespace zelk
