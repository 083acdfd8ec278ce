#pragma once
/// The half of a captured run that is the same on every platform: the pipe readers and the
/// loop that watches the process and enforces the time limit. The platform files start the
/// process and hand its two pipes and a handle on it to `finish_captured_run`.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "runner.h"

namespace zelk::capture {

/// The read end of one pipe. Destroying it closes the pipe.
class PipeSource {
 public:
  virtual ~PipeSource() = default;
  /// Reads up to `size` bytes; 0 at the end of the stream or when reading fails.
  virtual std::size_t read(char* buffer, std::size_t size) = 0;
};

/// The clock of every deadline of a captured run.
using Clock = std::chrono::steady_clock;

/// A started process as the watching loop sees it.
class ChildProcess {
 public:
  virtual ~ChildProcess() = default;
  /// Waits until the process ends or the deadline comes, whichever is first, waking the moment
  /// it ends; a deadline already past looks once without waiting. Gives none while the process
  /// still runs; once it has ended, its exit code (itself none when the process ended without
  /// one). It may give none before the deadline; the caller then waits again.
  virtual std::expected<std::optional<std::optional<std::int32_t>>, RunError> wait_until(
      Clock::time_point deadline) = 0;
  /// Kills the process and waits until it has ended; failures are ignored.
  virtual void terminate_and_wait() = 0;
};

/// How long, at least, the readers are waited for once the process has ended by itself. The
/// wait lasts until the run's deadline or this long after the end, whichever is later; then
/// what the readers have collected is the output. This bounds a run whose program left a
/// process of its own holding the pipes, while the ended program's own output (already in
/// the pipe) is read in full.
inline constexpr std::chrono::seconds reader_grace{1};

/// What is kept of a hidden attached run's output, from its end: at most this many lines,
/// and of those at most this many bytes.
inline constexpr std::size_t kept_output_lines = 20;
inline constexpr std::size_t kept_output_bytes = 4096;

/// The end of a program's output as a hidden attached run keeps it: its last
/// kept_output_lines lines, cut to the last kept_output_bytes bytes at a line start (or, for
/// one longer line, at a character), decoded as UTF-8.
std::string kept_output_tail(std::string_view bytes);

/// Starts one reader for each pipe (standard output first), then waits on the process until
/// it ends or the limit passes. Readers that are not waited for keep their own share of what
/// they collect and end when their pipe does. When `each_line` is given, the output's reader
/// hands it each line as it arrives (see CommandRunner::run_captured_lines), never after this
/// returns. With `bounds`, the output's reader stops (and closes its pipe) once it has more
/// than their bytes, and the process is ended the moment a bound is passed: RunError TooLarge.
std::expected<RunOutput, RunError> finish_captured_run(ChildProcess& child,
                                                       std::unique_ptr<PipeSource> output,
                                                       std::unique_ptr<PipeSource> errors,
                                                       std::chrono::nanoseconds limit,
                                                       const OutputLineFn* each_line = nullptr,
                                                       const RunBounds* bounds = nullptr);

/// A started process and the one pipe that carries both of its streams, watched together by the
/// thread that runs it, so that no thread is left reading once the run is over.
class WatchedOutput {
 public:
  /// What one wait brought.
  struct News {
    std::string bytes;  ///< what arrived on the pipe, in order; maybe nothing
    /// Once the process has ended: its exit code (itself none when it ended without one).
    std::optional<std::optional<std::int32_t>> ended;
  };

  virtual ~WatchedOutput() = default;
  /// Waits without limit until bytes arrive or the process ends. Once it has ended, the bytes
  /// are all that was in the pipe at that moment, and nothing more is read: a process of the
  /// program's own that still holds the pipe keeps nothing waiting.
  virtual std::expected<News, RunError> wait() = 0;
};

/// Watches the process until it ends, keeping only the end of what it wrote (kept_output_tail).
std::expected<AttachedRun, RunError> finish_kept_run(WatchedOutput& watched);

}  // namespace zelk::capture
