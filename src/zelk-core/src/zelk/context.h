#pragma once
/// The services a front end hands to the commands. Commands never print, sleep, draw random
/// bytes, read the clock or open a browser except through these, so tests plug fakes in.

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "http.h"
#include "recipe.h"
#include "runner.h"

namespace zelk {

/// Where command output goes, as bytes. Write errors are the writer's to ignore.
class OutputWriter {
 public:
  virtual ~OutputWriter() = default;
  virtual void write(std::string_view bytes) = 0;
};

using SleepFn = std::function<void(std::chrono::nanoseconds)>;
using FillRandomFn = std::function<std::expected<void, std::string>(std::span<std::uint8_t>)>;
using OpenInBrowserFn = std::function<std::expected<void, std::string>(const std::string&)>;
using ClockFn = std::function<std::chrono::system_clock::time_point()>;
using PortFreeFn = std::function<bool(std::uint16_t)>;

/// The user's request to stop the command (Ctrl-C in the console). Until a command calls
/// `watch`, a request ends the program at once, as usual. A command that must clean up what it
/// made calls `watch` before it makes anything; from then on a request is only noted and
/// `requested` says so. A second request ends the program at once.
struct InterruptWatch {
  std::function<void()> watch;
  std::function<bool()> requested;
};

/// Everything a command may use. Owns only `home`; the rest is borrowed from the front end
/// and outlives the command.
struct CommandContext {
  std::filesystem::path home;
  std::span<const Recipe> recipes;
  const CommandRunner& runner;
  OutputWriter& output;
  const HttpProbe& probe;
  const SleepFn& sleep;
  const FillRandomFn& fill_random;
  const OpenInBrowserFn& open_in_browser;
  std::string_view platform;
  const ClockFn& now;
  /// Set by a front end that offers no "zelk logs" (the window program): a start that finds
  /// the app stopped quotes the app's last log line in its message.
  bool quote_app_logs = false;
  /// None where no one can ask a command to stop (the window program's workers).
  const InterruptWatch* interrupts = nullptr;
  /// Set when `home` is the folder Zelk chose itself in the user's folder; a folder named with
  /// ZELK_HOME is the user's, and "remove --everything" leaves it.
  bool home_is_default = false;
  /// Whether a port on 127.0.0.1 is free for an app; none: the system's own bind test
  /// (`port_is_free`).
  const PortFreeFn* port_free = nullptr;
};

/// Starts the watch of `ctx.interrupts`, when there is one.
void watch_interrupts(const CommandContext& ctx);

/// Whether the user has asked the command in `ctx` to stop since its watch started.
bool stop_requested(const CommandContext& ctx);

/// Writes the text and "\n" in one write through the writer.
void say(OutputWriter& output, std::string_view text);

}  // namespace zelk
