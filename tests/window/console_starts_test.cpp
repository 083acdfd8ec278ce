#include "console_starts.h"

#include <gtest/gtest.h>

#include "platform.h"

namespace zelk {
namespace {

TEST(ConsoleStarts, TheArgumentTextsAreWholeAndUnquotedAgain) {
  EXPECT_EQ(setup_console_arguments(R"(C:\Program Files\Valdroven AI Zelk\zelk.exe)"),
            R"(/k "title Set up Podman - Valdroven AI Zelk & "C:\Program Files\Valdroven AI Zelk\zelk.exe" setup")");
  EXPECT_EQ(desktop_get_console_arguments(),
            R"(/k "title Podman Desktop - Valdroven AI Zelk & winget install --exact --id RedHat.Podman-Desktop )"
            R"(--accept-source-agreements --accept-package-agreements & echo. & echo You can close this window.")");
  EXPECT_EQ(terminal_console_arguments("docker"), R"(/k "title docker - Valdroven AI Zelk & docker ps -a")");
  EXPECT_EQ(terminal_console_arguments("podman"), R"(/k "title podman - Valdroven AI Zelk & podman ps -a")");
}

TEST(ConsoleStarts, TheTerminalRunsDockerOnlyForDocker) {
  EXPECT_EQ(terminal_command("Docker"), "docker");
  EXPECT_EQ(terminal_command("DOCKER"), "docker");
  EXPECT_EQ(terminal_command("Podman"), "podman");
  EXPECT_EQ(terminal_command("Dockers"), "podman");
  EXPECT_EQ(terminal_command(""), "podman");
}

struct PathCase {
  std::string program_folder;
  std::string found;
  std::optional<std::string> current;
  char separator;
  std::expected<std::string, std::string> path;
};

TEST(ConsoleStarts, TheTerminalsPathPutsTheProgramAndTheRuntimeFirst) {
  const std::vector<PathCase> cases{
      {"/opt/zelk", "podman", "/usr/bin:/bin", ':', "/opt/zelk:/usr/bin:/bin"},
      {"/opt/zelk", "/opt/podman/bin/podman", "/usr/bin", ':', "/opt/zelk:/opt/podman/bin:/usr/bin"},
      {"/opt/zelk", "podman", std::nullopt, ':', "/opt/zelk"},
      {"/opt/zelk", "podman", "", ':', "/opt/zelk"},
      {"/opt/a;b", "docker", "/bin", ';', "\"/opt/a;b\";/bin"},
      {"/opt/say \"hi\"", "docker", "/bin", ';',
       std::unexpected(std::string("The folder /opt/say \"hi\" has a double quote in its name."))},
  };
  for (const PathCase& c : cases) {
    EXPECT_EQ(terminal_path(path_from_utf8(c.program_folder), c.found, c.current, c.separator), c.path)
        << c.program_folder << " " << c.found;
  }
}

}  // namespace
}  // namespace zelk
