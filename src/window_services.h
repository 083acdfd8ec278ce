#pragma once
/// What the window program needs of the system besides its shell: the services its workers
/// hand to the core and the commands, the way it starts a worker thread, its clock and the
/// lookups its page words make. The real ones come from real_window_services(); tests fill
/// in fakes.
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http.h"
#include "loop_seams.h"
#include "runner.h"
#include "update.h"
#include "zelk/context.h"

namespace zelk {

/// The services every worker uses. Shared read-only by the loop and all workers, and safe to
/// use from several threads at once; a worker holds it for as long as it runs.
struct WorkerServices {
  /// The data folder (none when neither ZELK_HOME nor the user's folder gives one).
  std::function<std::optional<std::filesystem::path>()> data_folder;
  /// The runner with the hidden bit: no console windows, attached output discarded.
  std::shared_ptr<const CommandRunner> runner;
  HttpProbe probe;
  SleepFn sleep;
  FillRandomFn fill_random;
  OpenInBrowserFn open_in_browser;
  ClockFn now;
  /// The platform word the commands branch on.
  std::string platform;
  /// Starts a downloaded installer (launch_installer's starter).
  InstallerStarter start_installer;
};

/// Runs the work on a thread of its own and returns at once, or gives the system's text when
/// no thread could be made. The work must own everything it uses.
using StartWorker = std::function<std::expected<void, std::string>(std::function<void()> work)>;

/// Everything the loop uses besides its shell and proxy.
struct WindowServices {
  std::shared_ptr<const WorkerServices> workers;
  StartWorker start_worker;
  std::shared_ptr<const Clock> clock;
  /// Where Podman Desktop is installed, or none.
  std::function<std::optional<std::filesystem::path>()> find_podman_desktop;
  /// What to start for a program name (the core's find_program).
  std::function<std::string(std::string_view)> find_program;
  /// An environment variable of the process, or none when it is not set.
  std::function<std::optional<std::string>(std::string_view)> get_env;
};

/// The real services: the hidden SystemRunner, http_probe, a real sleep, the system's random
/// bytes, browser and data folder, this build's platform word, a steady clock and detached
/// threads.
WindowServices real_window_services();

/// Starts the work on a detached thread.
std::expected<void, std::string> start_detached_worker(std::function<void()> work);

}  // namespace zelk
