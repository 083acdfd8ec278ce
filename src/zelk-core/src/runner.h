#pragma once
/// The one way the system starts outside programs: captured runs with a time limit and
/// attached runs that share the console. A runner holds only its flags byte, so one runner
/// may serve several threads at once.

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace zelk {

/// The captured streams of a finished run, decoded as UTF-8 (invalid bytes become U+FFFD),
/// and its exit code (absent when the process ended without one, by a signal).
struct RunOutput {
  std::string stdout_text;
  std::string stderr_text;
  std::optional<std::int32_t> exit_code;

  /// True only when the exit code is present and 0.
  bool success() const { return exit_code && *exit_code == 0; }
};

/// Why a run gave no result. TooLarge: the program was ended because it passed a bound of its
/// run (see RunBounds).
struct RunError {
  enum class Kind { NotFound, TimedOut, Os, TooLarge };
  Kind kind = Kind::Os;
  std::string text;  ///< the system's text, for Kind::Os only

  static RunError not_found() { return {Kind::NotFound, {}}; }
  static RunError timed_out() { return {Kind::TimedOut, {}}; }
  static RunError too_large() { return {Kind::TooLarge, {}}; }
  static RunError os(std::string text) { return {Kind::Os, std::move(text)}; }
  bool operator==(const RunError&) const = default;
};

/// The display text every message shows for a run error: "the program was not found",
/// "no answer in time", "more than was expected", or the system's text.
std::string fmt_run_error(const RunError& error);

/// How an attached run's streams are connected.
enum class AttachMode : std::uint8_t { Output = 0, ErrorsOnly = 1, Interactive = 2 };

/// How an attached run ended.
struct AttachedRun {
  /// The exit code; absent when the process ended without one (by a signal).
  std::optional<std::int32_t> exit_code;
  /// A hidden runner's run only: the end of what the program wrote to its output and error
  /// streams (its last 20 lines, at most 4 KiB), decoded as UTF-8. Nobody saw that output, so
  /// a message about a failed run quotes it. Absent when the streams were the console's.
  std::optional<std::string> kept_output;
};

using EnvPairs = std::vector<std::pair<std::string, std::string>>;

/// What ends a captured run before its time limit: a program that writes without end (a
/// stranger's server, say) is stopped there, and no more of it is held in memory.
struct RunBounds {
  /// The most bytes of standard output the run takes; once the program writes more, reading
  /// stops, the program is ended, and the run gives RunError TooLarge.
  std::size_t output_bytes = std::numeric_limits<std::size_t>::max();
  /// When set, asked now and then while the program runs (from the run's own thread); true
  /// ends the program, and the run gives RunError TooLarge.
  std::function<bool()> passed;
};

/// Hears one line of a program's output: its text decoded as UTF-8, without the line feed and
/// a carriage return before it.
using OutputLineFn = std::function<void(std::string_view line)>;

/// Runs outside programs. Implementations must be usable from several threads at once.
class CommandRunner {
 public:
  virtual ~CommandRunner() = default;

  /// Runs the program with its output and errors captured; a program still running at the
  /// limit is killed and the run gives RunError TimedOut.
  virtual std::expected<RunOutput, RunError> run_captured(
      const std::string& program, const std::vector<std::string>& args,
      std::chrono::nanoseconds limit) const = 0;

  /// As run_captured, and hands each line of the output to `each_line` in order, the moment the
  /// line is there, so that a caller may act on it while the program is still ending; a last
  /// line without a line feed comes when the output ends. The lines of a run that then fails or
  /// times out come too: the result decides what they are worth. The calls come from another
  /// thread, one at a time, and never after this returns. This default hands them over once the
  /// program has ended.
  virtual std::expected<RunOutput, RunError> run_captured_lines(const std::string& program,
                                                                const std::vector<std::string>& args,
                                                                std::chrono::nanoseconds limit,
                                                                const OutputLineFn& each_line) const;

  /// As run_captured, within the bounds. This default runs the program to its end and then
  /// applies them, so that a runner made for tests needs nothing more; the real runner ends the
  /// program the moment it passes one.
  virtual std::expected<RunOutput, RunError> run_captured_bounded(const std::string& program,
                                                                  const std::vector<std::string>& args,
                                                                  std::chrono::nanoseconds limit,
                                                                  const RunBounds& bounds) const;

  /// Runs the program attached to this process's console (or, when hidden, to a pipe whose
  /// end is kept), with the environment pairs added; waits without limit and gives how it
  /// ended.
  virtual std::expected<AttachedRun, RunError> run_attached(const std::string& program,
                                                            const std::vector<std::string>& args,
                                                            const EnvPairs& environment, AttachMode mode) const = 0;
};

/// The real runner. Bit 0 of the flags hides every started program: no console window; an
/// attached run reads nothing, and its output and errors go to one pipe whose end is kept
/// (AttachedRun::kept_output), the mode notwithstanding. The run's own thread reads that pipe
/// and returns once the program has ended, with what it had written by then, even when a
/// process it left behind still holds the pipe.
///
/// A captured run that reaches its limit returns at once, even when a process the program
/// started still holds its pipes. Once the program has ended by itself, its output is read
/// until the pipes close, but not past the run's deadline or one second after the end,
/// whichever is later; what was read by then is the output.
class SystemRunner final : public CommandRunner {
 public:
  static constexpr std::uint8_t hidden = 1;

  explicit SystemRunner(std::uint8_t flags = 0) : flags_(flags) {}

  std::expected<RunOutput, RunError> run_captured(const std::string& program,
                                                  const std::vector<std::string>& args,
                                                  std::chrono::nanoseconds limit) const override;
  /// Stops reading the output, and ends the program, once it passes a bound.
  std::expected<RunOutput, RunError> run_captured_bounded(const std::string& program,
                                                          const std::vector<std::string>& args,
                                                          std::chrono::nanoseconds limit,
                                                          const RunBounds& bounds) const override;
  /// Hands each line over from the reader of the output, as it arrives.
  std::expected<RunOutput, RunError> run_captured_lines(const std::string& program,
                                                        const std::vector<std::string>& args,
                                                        std::chrono::nanoseconds limit,
                                                        const OutputLineFn& each_line) const override;
  std::expected<AttachedRun, RunError> run_attached(const std::string& program, const std::vector<std::string>& args,
                                                    const EnvPairs& environment, AttachMode mode) const override;

 private:
  /// The platform's captured run; `each_line` and `bounds` may be null.
  std::expected<RunOutput, RunError> captured(const std::string& program, const std::vector<std::string>& args,
                                              std::chrono::nanoseconds limit, const OutputLineFn* each_line,
                                              const RunBounds* bounds = nullptr) const;

  std::uint8_t flags_;
};

/// Decodes bytes as UTF-8, one U+FFFD for each maximal subpart of an ill-formed sequence.
std::string decode_utf8_lossy(std::string_view bytes);

/// One argument quoted by the standard Windows rules, so that the C runtime and
/// CommandLineToArgvW give it back unchanged.
std::string quote_windows_argument(std::string_view argument);

/// The command line for a program and its arguments, each quoted by the Windows rules.
std::string windows_command_line(std::string_view program, const std::vector<std::string>& args);

/// Turns a system error code of a start or a wait into a RunError: NotFound for the
/// not-found kinds, else Os with "<system message> (os error <code>)".
RunError run_error_from_io(int os_error_code);

/// "<system message> (os error <code>)" for a system error code.
std::string os_error_text(int os_error_code);

/// "<message> (os error <code>)" for an error the C++ library reports.
std::string error_code_text(const std::error_code& error);

}  // namespace zelk
