#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>

#include "platform.h"
#include "process_win.h"
#include "runner.h"
#include "runner_capture.h"
#include "unicode.h"
#include "wide_win.h"

namespace zelk {

namespace {

using win::Handle;

class HandleSource final : public capture::PipeSource {
 public:
  explicit HandleSource(Handle handle) : handle_(std::move(handle)) {}
  std::size_t read(char* buffer, std::size_t size) override {
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(handle_.get(), buffer, wanted, &got, nullptr)) return 0;
      // A pipe also reads zero bytes when the writer wrote zero bytes; only a broken pipe
      // is the end.
      if (got > 0) return got;
    }
  }

 private:
  Handle handle_;
};

class WindowsChild final : public capture::ChildProcess {
 public:
  explicit WindowsChild(Handle process) : process_(std::move(process)) {}

  std::expected<std::optional<std::optional<std::int32_t>>, RunError> wait_until(
      capture::Clock::time_point deadline) override {
    const capture::Clock::time_point now = capture::Clock::now();
    // Whole milliseconds, rounded up so that a wait never ends just short of the deadline;
    // a wait longer than the system takes at once ends early and is made again.
    DWORD wait_ms = 0;
    if (deadline > now) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
      wait_ms = static_cast<DWORD>(std::min<long long>(left, longest_wait_ms));
    }
    const DWORD state = WaitForSingleObject(process_.get(), wait_ms);
    if (state == WAIT_TIMEOUT) return std::optional<std::optional<std::int32_t>>();
    if (state != WAIT_OBJECT_0) {
      return std::unexpected(RunError::os(os_error_text(static_cast<int>(GetLastError()))));
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process_.get(), &code)) {
      return std::unexpected(RunError::os(os_error_text(static_cast<int>(GetLastError()))));
    }
    return std::optional<std::optional<std::int32_t>>(static_cast<std::int32_t>(code));
  }

  void terminate_and_wait() override {
    // A refusal because the process has just ended is as good as success.
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), INFINITE);
  }

 private:
  // Below INFINITE, which would wait for ever.
  static constexpr long long longest_wait_ms = 24LL * 60 * 60 * 1000;
  Handle process_;
};

// A hidden attached run's pipe and process, watched by the run's thread alone: one read is
// under way on the pipe while the program runs, and the thread sleeps until it completes or the
// process ends. Once the process has ended, only what the pipe holds then is read, so a process
// of the program's own that holds the pipe open keeps nothing waiting.
class WindowsWatchedOutput final : public capture::WatchedOutput {
 public:
  WindowsWatchedOutput(Handle process, Handle pipe, Handle read_done)
      : process_(std::move(process)), pipe_(std::move(pipe)), read_done_(std::move(read_done)) {}
  // The system must be done with the read's buffer before it goes.
  ~WindowsWatchedOutput() override {
    std::string dropped;
    call_off_read(dropped);
  }
  WindowsWatchedOutput(const WindowsWatchedOutput&) = delete;
  WindowsWatchedOutput& operator=(const WindowsWatchedOutput&) = delete;

  std::expected<News, RunError> wait() override {
    News news;
    if (open_ && !reading_) start_read(chunk);
    // The process comes first: when both are signalled, its end is what counts.
    const HANDLE waited[2] = {process_.get(), read_done_.get()};
    const DWORD which = WaitForMultipleObjects(reading_ ? 2 : 1, waited, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0 + 1) {
      collect_read(news.bytes, false);
      return news;
    }
    if (which != WAIT_OBJECT_0) return std::unexpected(RunError::os(os_error_text(static_cast<int>(GetLastError()))));
    DWORD code = 0;
    if (!GetExitCodeProcess(process_.get(), &code)) {
      return std::unexpected(RunError::os(os_error_text(static_cast<int>(GetLastError()))));
    }
    call_off_read(news.bytes);
    DWORD left = 0;
    if (open_ && PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, &left, nullptr)) {
      while (open_ && left > 0) {
        start_read(std::min(left, chunk));
        left -= std::min(left, collect_read(news.bytes, true));
      }
    }
    news.ended = static_cast<std::int32_t>(code);
    return news;
  }

 private:
  static constexpr DWORD chunk = 65536;

  void start_read(DWORD size) {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = read_done_.get();
    if (ReadFile(pipe_.get(), buffer_.get(), size, nullptr, &overlapped_) || GetLastError() == ERROR_IO_PENDING) {
      reading_ = true;
    } else {
      open_ = false;  // every writer has let go of the pipe, or it failed
    }
  }

  // Appends what the read got and gives its size; `wait`: waits for the read to be over. A read
  // that failed for another reason than being called off ends the stream.
  DWORD collect_read(std::string& into, bool wait) {
    if (!reading_) return 0;
    DWORD got = 0;
    if (GetOverlappedResult(pipe_.get(), &overlapped_, &got, wait ? TRUE : FALSE)) {
      reading_ = false;
      into.append(buffer_.get(), got);
      return got;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_INCOMPLETE) return 0;
    reading_ = false;
    if (error != ERROR_OPERATION_ABORTED) open_ = false;
    return 0;
  }

  // Calls off the read under way; what it got before that is appended.
  void call_off_read(std::string& into) {
    if (!reading_) return;
    CancelIoEx(pipe_.get(), &overlapped_);
    collect_read(into, true);
  }

  Handle process_;
  Handle pipe_;
  Handle read_done_;
  OVERLAPPED overlapped_{};
  std::unique_ptr<char[]> buffer_ = std::make_unique<char[]>(chunk);
  bool reading_ = false;
  bool open_ = true;
};

struct Pipe {
  Handle read;
  Handle write;
};

// A pipe whose read end is read with overlapped reads, which a wait can sleep on together with
// the process; an anonymous pipe has no such reads, so it is a named one with a name of its own.
std::expected<Pipe, RunError> make_watchable_pipe() {
  static std::atomic<unsigned> made{0};
  for (int attempt = 0;; ++attempt) {
    const std::wstring name = L"\\\\.\\pipe\\zelk-run-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(made++);
    constexpr DWORD open_mode = PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE;
    constexpr DWORD pipe_mode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
    Handle read(CreateNamedPipeW(name.c_str(), open_mode, pipe_mode, 1, 0, 65536, 0, nullptr));
    if (!read) {
      // A name another process took first is passed over.
      if (GetLastError() == ERROR_ACCESS_DENIED && attempt < 16) continue;
      return std::unexpected(run_error_from_io(static_cast<int>(GetLastError())));
    }
    Handle write(CreateFileW(name.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr));
    if (!write) return std::unexpected(run_error_from_io(static_cast<int>(GetLastError())));
    return Pipe{std::move(read), std::move(write)};
  }
}

std::expected<Pipe, RunError> make_pipe() {
  // Neither end is inheritable: the start gives the child its own copy of the write end.
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!CreatePipe(&read, &write, nullptr, 0)) {
    return std::unexpected(run_error_from_io(static_cast<int>(GetLastError())));
  }
  return Pipe{Handle(read), Handle(write)};
}

// What the process start is given for a program: the full path of the file, or NotFound.
std::expected<std::wstring, RunError> application_for(const std::string& located) {
  std::optional<std::wstring> path = win::locate_program(to_wide(located));
  if (!path) return std::unexpected(RunError::not_found());
  return *path;
}

DWORD creation_flags(std::uint8_t flags) {
  return (flags & SystemRunner::hidden) != 0 ? CREATE_NO_WINDOW : 0;
}

HANDLE own_handle(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

}  // namespace

std::expected<RunOutput, RunError> SystemRunner::captured(const std::string& program,
                                                          const std::vector<std::string>& args,
                                                          std::chrono::nanoseconds limit,
                                                          const OutputLineFn* each_line,
                                                          const RunBounds* bounds) const {
  const std::string located = find_program(program);
  auto application = application_for(located);
  if (!application) return std::unexpected(application.error());

  auto output = make_pipe();
  if (!output) return std::unexpected(output.error());
  auto errors = make_pipe();
  if (!errors) return std::unexpected(errors.error());
  const Handle null_device = win::open_null_device();
  if (!null_device) return std::unexpected(run_error_from_io(static_cast<int>(GetLastError())));

  auto process = win::start_process({
      .application = *application,
      .command_line = to_wide(windows_command_line(located, args)),
      .std_input = null_device.get(),
      .std_output = output->write.get(),
      .std_error = errors->write.get(),
      .creation_flags = creation_flags(flags_),
      .environment = std::nullopt,
  });
  if (!process) return std::unexpected(run_error_from_io(static_cast<int>(process.error())));
  // Only the child may hold the write ends, or the readers would never see the end.
  output->write.reset();
  errors->write.reset();

  WindowsChild child(std::move(*process));
  return capture::finish_captured_run(child, std::make_unique<HandleSource>(std::move(output->read)),
                                      std::make_unique<HandleSource>(std::move(errors->read)), limit, each_line,
                                      bounds);
}

std::expected<AttachedRun, RunError> SystemRunner::run_attached(const std::string& program,
                                                               const std::vector<std::string>& args,
                                                               const EnvPairs& environment, AttachMode mode) const {
  const std::string located = find_program(program);
  auto application = application_for(located);
  if (!application) return std::unexpected(application.error());

  const Handle null_device = win::open_null_device();
  if (!null_device) return std::unexpected(run_error_from_io(static_cast<int>(GetLastError())));
  win::ProcessStart start{
      .application = *application,
      .command_line = to_wide(windows_command_line(located, args)),
      .std_input = null_device.get(),
      .std_output = own_handle(STD_OUTPUT_HANDLE),
      .std_error = own_handle(STD_ERROR_HANDLE),
      .creation_flags = creation_flags(flags_),
      .environment = environment.empty() ? std::nullopt : std::optional(win::environment_block(environment)),
  };

  if ((flags_ & hidden) != 0) {
    // Nobody sees a hidden run: its output and errors go to one pipe, whose end is kept so
    // that a failure can say what the program said.
    auto kept = make_watchable_pipe();
    if (!kept) return std::unexpected(kept.error());
    Handle read_done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!read_done) return std::unexpected(run_error_from_io(static_cast<int>(GetLastError())));
    start.std_output = kept->write.get();
    start.std_error = kept->write.get();
    auto process = win::start_process(start);
    if (!process) return std::unexpected(run_error_from_io(static_cast<int>(process.error())));
    kept->write.reset();
    WindowsWatchedOutput watched(std::move(*process), std::move(kept->read), std::move(read_done));
    return capture::finish_kept_run(watched);
  }

  if (mode == AttachMode::ErrorsOnly) {
    start.std_output = null_device.get();
  } else if (mode == AttachMode::Interactive) {
    start.std_input = own_handle(STD_INPUT_HANDLE);
  }
  auto process = win::start_process(start);
  if (!process) return std::unexpected(run_error_from_io(static_cast<int>(process.error())));

  if (WaitForSingleObject(process->get(), INFINITE) == WAIT_FAILED) {
    return std::unexpected(run_error_from_io(static_cast<int>(GetLastError())));
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process->get(), &code)) {
    return std::unexpected(run_error_from_io(static_cast<int>(GetLastError())));
  }
  return AttachedRun{static_cast<std::int32_t>(code), std::nullopt};
}

RunError run_error_from_io(int code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return RunError::not_found();
    default:
      return RunError::os(os_error_text(code));
  }
}

std::string os_error_text(int code) {
  wchar_t buffer[2048];
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), 0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
  const std::string message = from_wide_lossy(std::wstring_view(buffer, length));
  const std::string_view text = trim_trailing_white_space(message);
  return (text.empty() ? std::string("Unknown error") : std::string(text)) + " (os error " +
         std::to_string(code) + ")";
}

}  // namespace zelk
