#include "runner_capture.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "lines.h"

namespace zelk::capture {

namespace {

// Owned jointly by the reader thread and the run, so a run that gives up on its reader (time
// limit, or a process that leaves a pipe open) can return while the reader goes on safely.
struct Collected {
  std::mutex mutex;
  std::condition_variable finished;
  std::string bytes;
  bool done = false;
  std::exception_ptr thrown;  // an error that stopped the reader
  std::size_t most = std::numeric_limits<std::size_t>::max();  // the bytes the run takes
  bool over = false;                                           // more came: the reading stopped

  // False once more than `most` bytes have come: then nothing more is read.
  bool append(const char* chunk, std::size_t size) {
    const std::lock_guard lock(mutex);
    bytes.append(chunk, size);
    over = bytes.size() > most;
    return !over;
  }

  bool passed_most() {
    const std::lock_guard lock(mutex);
    return over;
  }

  // What has been read once the reader is done, or at the deadline whatever it has so far. An
  // error that stopped the reader is thrown here, on the run's own thread.
  std::string take(Clock::time_point deadline) {
    std::unique_lock lock(mutex);
    finished.wait_until(lock, deadline, [this] { return done; });
    if (thrown) std::rethrow_exception(thrown);
    return done ? std::move(bytes) : bytes;
  }
};

// Hands the lines of the output to the run's caller while the run lasts. The reader may read on
// after the run has returned (a time-out, or a pipe held open), so the run cuts the caller off
// when it returns, waiting for a line being handed over to be done. An error the caller throws
// for a line ends the handing over, not the reading, and is the run's to throw.
class LineFeed {
 public:
  explicit LineFeed(const OutputLineFn* each_line) : each_line_(each_line) {}

  // Reader thread only: the bytes that just arrived, then at the end of the stream none.
  void add(std::string_view bytes) {
    cutter_.add(bytes);
    while (const std::optional<std::string_view> line = cutter_.next()) hand_over(*line);
  }
  void end() {
    if (const std::string last = cutter_.rest(); !last.empty()) hand_over(last);
  }

  // Gives what the caller threw, once cut off.
  std::exception_ptr cut_off() {
    const std::lock_guard lock(mutex_);
    each_line_ = nullptr;
    return thrown_;
  }

 private:
  void hand_over(std::string_view line) {
    const std::lock_guard lock(mutex_);
    if (each_line_ == nullptr) return;
    try {
      (*each_line_)(decode_utf8_lossy(without_carriage_return(line)));
    } catch (...) {
      thrown_ = std::current_exception();
      each_line_ = nullptr;
    }
  }

  std::mutex mutex_;
  const OutputLineFn* each_line_;
  std::exception_ptr thrown_;
  LineCutter cutter_;  // the reader's alone
};

std::expected<std::shared_ptr<Collected>, RunError> start_reader(
    std::unique_ptr<PipeSource> source, std::shared_ptr<LineFeed> lines = nullptr,
    std::size_t most = std::numeric_limits<std::size_t>::max()) {
  auto collected = std::make_shared<Collected>();
  collected->most = most;
  try {
    std::thread([collected, source = std::move(source), lines = std::move(lines)]() mutable {
      // An error here (no memory left) stops the reading and reaches the run, not the program.
      std::exception_ptr thrown;
      try {
        char chunk[16384];
        for (;;) {
          const std::size_t got = source->read(chunk, sizeof chunk);
          if (got == 0) break;
          if (lines) lines->add(std::string_view(chunk, got));
          // Past its bound the pipe is closed below: a program that goes on writing ends.
          if (!collected->append(chunk, got)) break;
        }
        if (lines) lines->end();
      } catch (...) {
        thrown = std::current_exception();
      }
      source.reset();
      {
        const std::lock_guard lock(collected->mutex);
        collected->thrown = std::move(thrown);
        collected->done = true;
      }
      collected->finished.notify_all();
    }).detach();
  } catch (const std::system_error& error) {
    return std::unexpected(RunError::os(error.code().message()));
  }
  return collected;
}

// A limit far beyond any run is cut, so that adding it to the clock cannot overflow.
std::chrono::nanoseconds bounded(std::chrono::nanoseconds limit) {
  constexpr std::chrono::nanoseconds longest = std::chrono::hours(24 * 365 * 100);
  return std::clamp(limit, std::chrono::nanoseconds::zero(), longest);
}

bool is_continuation_byte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// How often a run with bounds looks at them while its program runs.
constexpr std::chrono::milliseconds bounds_interval{50};

// Starts the readers and waits on the process until it ends, the limit passes or (with bounds)
// a bound is passed.
std::expected<RunOutput, RunError> watch_captured_run(ChildProcess& child, std::unique_ptr<PipeSource> output,
                                                      std::unique_ptr<PipeSource> errors,
                                                      std::chrono::nanoseconds limit,
                                                      const std::shared_ptr<LineFeed>& lines,
                                                      const RunBounds* bounds) {
  auto output_reader = start_reader(std::move(output), lines,
                                    bounds ? bounds->output_bytes : std::numeric_limits<std::size_t>::max());
  if (!output_reader) return std::unexpected(output_reader.error());
  auto errors_reader = start_reader(std::move(errors));
  if (!errors_reader) return std::unexpected(errors_reader.error());

  const Clock::time_point deadline = Clock::now() + bounded(limit);
  for (;;) {
    // The state comes before the deadline, so a program that has ended keeps its output
    // even when the limit has passed, and a limit of zero still looks once.
    auto state = child.wait_until(bounds ? std::min(deadline, Clock::now() + bounds_interval) : deadline);
    if (!state) return std::unexpected(state.error());
    // A program that passed a bound has given nothing worth keeping, even when it has ended
    // since (the closed pipe may have ended it).
    if (bounds && ((*output_reader)->passed_most() || (bounds->passed && bounds->passed()))) {
      if (!*state) child.terminate_and_wait();
      return std::unexpected(RunError::too_large());
    }
    if (*state) {
      const Clock::time_point readers_deadline = std::max(deadline, Clock::now() + reader_grace);
      std::string out = (*output_reader)->take(readers_deadline);
      std::string err = (*errors_reader)->take(readers_deadline);
      return RunOutput{decode_utf8_lossy(out), decode_utf8_lossy(err), **state};
    }
    if (Clock::now() >= deadline) {
      child.terminate_and_wait();
      return std::unexpected(RunError::timed_out());
    }
  }
}

}  // namespace

std::string kept_output_tail(std::string_view bytes) {
  // The last lines: a line feed that ends the text closes its last line, not one more.
  std::size_t start = 0;
  std::size_t lines = 0;
  for (std::size_t at = bytes.size(); at > 0; --at) {
    if (bytes[at - 1] != '\n' || at == bytes.size()) continue;
    if (++lines == kept_output_lines) {
      start = at;
      break;
    }
  }
  if (bytes.size() - start > kept_output_bytes) {
    // The first line that starts within the last bytes: the cut itself when a line feed
    // comes just before it.
    const std::size_t cut = bytes.size() - kept_output_bytes;
    const std::size_t line_end = bytes.find('\n', cut - 1);
    if (line_end != std::string_view::npos && line_end + 1 < bytes.size()) {
      start = line_end + 1;
    } else {
      start = cut;
      while (start < bytes.size() && is_continuation_byte(bytes[start])) ++start;
    }
  }
  return decode_utf8_lossy(bytes.substr(start));
}

std::expected<RunOutput, RunError> finish_captured_run(ChildProcess& child,
                                                       std::unique_ptr<PipeSource> output,
                                                       std::unique_ptr<PipeSource> errors,
                                                       std::chrono::nanoseconds limit,
                                                       const OutputLineFn* each_line,
                                                       const RunBounds* bounds) {
  const auto lines = each_line != nullptr ? std::make_shared<LineFeed>(each_line) : nullptr;
  // Whichever way the run returns, its caller hears no line after that.
  const std::unique_ptr<LineFeed, void (*)(LineFeed*)> cut_off_on_return(lines.get(), [](LineFeed* feed) {
    if (feed != nullptr) feed->cut_off();
  });
  auto run = watch_captured_run(child, std::move(output), std::move(errors), limit, lines, bounds);
  // What the caller threw for a line comes back to it here, on its own thread.
  if (lines) {
    if (std::exception_ptr thrown = lines->cut_off()) std::rethrow_exception(thrown);
  }
  return run;
}

std::expected<AttachedRun, RunError> finish_kept_run(WatchedOutput& watched) {
  // Enough of the end to cut the last kept_output_bytes at a line start.
  constexpr std::size_t held = 2 * kept_output_bytes;
  std::string kept;
  for (;;) {
    auto news = watched.wait();
    if (!news) return std::unexpected(news.error());
    kept.append(news->bytes);
    if (kept.size() > 2 * held) kept.erase(0, kept.size() - held);
    if (news->ended) return AttachedRun{*news->ended, kept_output_tail(kept)};
  }
}

}  // namespace zelk::capture
