#pragma once
// The end-to-end harness: a real Podman or Docker, a tiny web-server image made here from
// busybox without any network, containers made for one test, and the built zelk program run
// with its own data folder. Everything the harness makes carries the test process's id in its
// name (torvo-e2e-<pid>-..., localhost/zelk-e2e-<pid>) and is removed when the test ends.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "runner.h"
#include "test_folder.h"

namespace zelk::e2e {

/// A runtime the tests run against, separately.
struct RuntimeUnderTest {
  std::string command;       // "podman" or "docker"
  std::string display_name;  // "Podman" or "Docker"
  friend void PrintTo(const RuntimeUnderTest& r, std::ostream* os) { *os << r.command; }
};

/// True when the tests run in CI, where a missing runtime is a failure, not a skip.
bool in_ci();

/// The outcome of one program run, for messages.
std::string describe(const std::expected<RunOutput, RunError>& run);

/// Base of every end-to-end test: checks that the runtime answers (a failure in CI, a skip
/// elsewhere), imports the test image and removes what the test made.
class RealRuntime : public ::testing::TestWithParam<RuntimeUnderTest> {
 protected:
  void SetUp() override;
  void TearDown() override;

  const std::string& runtime() const { return GetParam().command; }

  /// Runs the runtime with the arguments; a failed run fails the test and gives none.
  std::optional<std::string> run_runtime(const std::vector<std::string>& args);

  /// A new recipe id for this test, "e2e-<pid>-<word>"; its container is "torvo-" + id.
  std::string app_id(const std::string& word) const;

  /// Starts the app's container from the test image, published on 127.0.0.1:port, labelled
  /// as zelk labels its containers. `serve` false runs a process that never listens.
  void run_app_container(const std::string& id, std::uint16_t port, const std::string& recipe_hash,
                         bool serve = true);

  /// Creates the app's container without starting it.
  void create_app_container(const std::string& id, const std::string& recipe_hash);

  /// Stops the app's container.
  void stop_app_container(const std::string& id);

  /// Waits (a bounded number of tries) until 127.0.0.1:port answers the path with 200.
  bool wait_until_ready(std::uint16_t port, const std::string& path);

  /// Writes an added recipe for the test image into the data folder (test_page_recipe).
  void add_recipe(const std::string& id, std::uint16_t port, const std::vector<std::string>& command = {});

  /// Runs the built zelk program with the data folder as ZELK_HOME and the PATH that shows
  /// the runtime under test (for Docker: a folder holding only "docker").
  std::expected<RunOutput, RunError> run_zelk(const std::vector<std::string>& args);

  /// The PATH zelk runs with.
  const std::string& zelk_path() const { return path_; }

  /// A port where nothing listens that no built-in recipe uses.
  static std::uint16_t free_port();

  SystemRunner runner_;
  TestFolder home_;
  std::string image_;

 private:
  TestFolder scratch_;
  std::string path_;
  std::vector<std::string> containers_;
};

/// Names each parameterized case by its runtime.
std::string runtime_name(const ::testing::TestParamInfo<RuntimeUnderTest>& info);

}  // namespace zelk::e2e
