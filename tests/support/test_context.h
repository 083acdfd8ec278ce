#pragma once
// Every service of a CommandContext as a fake a test can script and inspect: output into a
// string, a scripted runner, a scripted probe that may be called from several threads,
// recorded sleeps and browser calls, counting random bytes and a fixed clock.

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "apps_run.h"
#include "scripted_runner.h"
#include "zelk/context.h"

namespace zelk {

class StringWriter final : public OutputWriter {
 public:
  void write(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

struct TestContext {
  explicit TestContext(std::filesystem::path home_folder, std::span<const Recipe> known = {});

  /// A context over these services; `runner_override` replaces the scripted runner.
  CommandContext context(const CommandRunner* runner_override = nullptr);

  std::filesystem::path home;
  std::span<const Recipe> recipes;
  std::string platform = "linux";
  bool home_is_default = false;  // true: `home` is the folder Zelk chose, not one named by ZELK_HOME

  StringWriter output;
  ScriptedRunner runner;

  /// What the probe answers for (port, path); default: nothing answers. A read of many states
  /// calls it from several threads at once.
  std::function<std::optional<std::uint16_t>(std::uint16_t, std::string_view)> probe_answer;
  std::vector<std::pair<std::uint16_t, std::string>> probes;  // every probe made, in the order made
  std::mutex probes_mutex;                                    // guards `probes` while probes run
  std::vector<std::chrono::nanoseconds> sleeps;               // every sleep asked for
  std::vector<std::string> opened;                            // every address opened
  std::optional<std::string> browser_error;                   // make open_in_browser fail
  std::optional<std::string> random_error;                    // make fill_random fail
  std::uint8_t next_random = 0;                               // random bytes count up from here
  std::chrono::system_clock::time_point time{};               // what the clock says
  std::vector<std::uint16_t> busy_ports;                      // ports another program holds

  HttpProbe probe;
  SleepFn sleep;
  FillRandomFn fill_random;
  OpenInBrowserFn open_in_browser;
  ClockFn now;
  PortFreeFn port_free;
};

/// The run as start_app makes it: its secret values sealed with the data folder's key, which
/// this writes first when there is none yet.
ContainerRun as_started(ContainerRun run, const std::filesystem::path& home);

}  // namespace zelk
