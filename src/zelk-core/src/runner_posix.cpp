#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "platform.h"
#include "runner.h"
#include "runner_capture.h"

extern char** environ;

namespace zelk {

namespace {

// What one of the child's standard streams is connected to.
struct Stream {
  enum class Kind { Inherit, Null, Fd } kind = Kind::Inherit;
  int fd = -1;

  static Stream inherit() { return {Kind::Inherit, -1}; }
  static Stream null() { return {Kind::Null, -1}; }
  static Stream to(int fd) { return {Kind::Fd, fd}; }
};

class FileActions {
 public:
  FileActions() { posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;

  int connect(int target, Stream stream) {
    switch (stream.kind) {
      case Stream::Kind::Inherit: return 0;
      case Stream::Kind::Null:
        return posix_spawn_file_actions_addopen(&actions_, target, "/dev/null",
                                                target == 0 ? O_RDONLY : O_WRONLY, 0);
      case Stream::Kind::Fd: return posix_spawn_file_actions_adddup2(&actions_, stream.fd, target);
    }
    return 0;
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
 public:
  SpawnAttributes() {
    posix_spawnattr_init(&attributes_);
    // The child starts with no blocked signals and with SIGPIPE at its default, whatever
    // this process has set for itself.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes_, &none);
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
    posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

// Starts the program found by the platform's own PATH search, each argument passed as one.
std::expected<pid_t, RunError> spawn(const std::string& program, const std::vector<std::string>& args,
                                     Stream in, Stream out, Stream err, char* const* environment) {
  const std::string located = find_program(program);
  std::vector<char*> argv;
  argv.reserve(args.size() + 2);
  argv.push_back(const_cast<char*>(located.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  FileActions actions;
  for (auto [target, stream] : {std::pair{0, in}, std::pair{1, out}, std::pair{2, err}}) {
    if (int rc = actions.connect(target, stream); rc != 0) return std::unexpected(run_error_from_io(rc));
  }
  const SpawnAttributes attributes;
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, located.c_str(), actions.get(), attributes.get(), argv.data(),
                              environment != nullptr ? environment : environ);
  if (rc != 0) return std::unexpected(run_error_from_io(rc));
  return pid;
}

class OwnedFd {
 public:
  explicit OwnedFd(int fd = -1) : fd_(fd) {}
  ~OwnedFd() { reset(); }
  OwnedFd(OwnedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  OwnedFd& operator=(OwnedFd&&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

class FdSource final : public capture::PipeSource {
 public:
  explicit FdSource(OwnedFd fd) : fd_(std::move(fd)) {}
  std::size_t read(char* buffer, std::size_t size) override {
    for (;;) {
      const ssize_t got = ::read(fd_.get(), buffer, size);
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno != EINTR) return 0;
    }
  }

 private:
  OwnedFd fd_;
};

std::optional<std::int32_t> exit_code_of(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return std::nullopt;
}

// waitpid without waiting: the pid once the process has ended (its status in `status`), 0 while
// it runs, -1 with errno on failure.
pid_t reap_if_ended(pid_t pid, int& status) {
  pid_t got = 0;
  do {
    got = ::waitpid(pid, &status, WNOHANG);
  } while (got < 0 && errno == EINTR);
  return got;
}

// A descriptor that becomes readable when the process ends, so a run can sleep until then
// and no longer; -1 on a kernel without pidfd_open (before Linux 5.3) or where it is refused.
int open_process_descriptor(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  return fd >= 0 ? static_cast<int>(fd) : -1;
#else
  (void)pid;
  return -1;
#endif
}

class PosixChild final : public capture::ChildProcess {
 public:
  explicit PosixChild(pid_t pid) : pid_(pid), ended_(open_process_descriptor(pid)) {}

  std::expected<std::optional<std::optional<std::int32_t>>, RunError> wait_until(
      capture::Clock::time_point deadline) override {
    for (;;) {
      int status = 0;
      const pid_t got = reap_if_ended(pid_, status);
      if (got < 0) return std::unexpected(RunError::os(os_error_text(errno)));
      if (got != 0) return std::optional<std::optional<std::int32_t>>(exit_code_of(status));

      const capture::Clock::time_point now = capture::Clock::now();
      if (now >= deadline) return std::optional<std::optional<std::int32_t>>();
      const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
      if (ended_.get() < 0) {
        // Without a descriptor to wait on, look again in short steps.
        std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(left, fallback_step));
        continue;
      }
      pollfd watched{ended_.get(), POLLIN, 0};
      const timespec timeout{static_cast<time_t>(left.count() / 1'000'000'000),
                             static_cast<long>(left.count() % 1'000'000'000)};
      if (::ppoll(&watched, 1, &timeout, nullptr) < 0 && errno != EINTR) {
        return std::unexpected(RunError::os(os_error_text(errno)));
      }
    }
  }

  void terminate_and_wait() override {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }

 private:
  static constexpr std::chrono::milliseconds fallback_step{5};
  pid_t pid_;
  OwnedFd ended_;
};

// A hidden attached run's pipe and process, watched by the run's thread alone: it sleeps until
// the process ends or bytes arrive, and reads only what is there, so a process of the program's
// own that holds the pipe open keeps nothing waiting.
class PosixWatchedOutput final : public capture::WatchedOutput {
 public:
  PosixWatchedOutput(pid_t pid, OwnedFd pipe)
      : pid_(pid), ended_(open_process_descriptor(pid)), pipe_(std::move(pipe)) {
    ::fcntl(pipe_.get(), F_SETFL, ::fcntl(pipe_.get(), F_GETFL) | O_NONBLOCK);
  }

  std::expected<News, RunError> wait() override {
    for (;;) {
      News news;
      int status = 0;
      const pid_t got = reap_if_ended(pid_, status);
      if (got < 0) return std::unexpected(RunError::os(os_error_text(errno)));
      if (got != 0) {
        // All the program wrote is in the pipe now; what comes later is another process's.
        int left = 0;
        if (pipe_.get() >= 0 && ::ioctl(pipe_.get(), FIONREAD, &left) == 0 && left > 0) {
          read_ready(news.bytes, static_cast<std::size_t>(left));
        }
        news.ended = exit_code_of(status);
        return news;
      }
      read_ready(news.bytes, chunk);
      if (!news.bytes.empty()) return news;

      pollfd watched[2] = {{ended_.get(), POLLIN, 0}, {pipe_.get(), POLLIN, 0}};
      // Without a descriptor of the process, look at it again in short steps.
      const timespec step{0, std::chrono::nanoseconds(fallback_step).count()};
      if (::ppoll(watched, 2, ended_.get() < 0 ? &step : nullptr, nullptr) < 0 && errno != EINTR) {
        return std::unexpected(RunError::os(os_error_text(errno)));
      }
    }
  }

 private:
  static constexpr std::size_t chunk = 65536;
  static constexpr std::chrono::milliseconds fallback_step{5};

  // Appends up to `most` bytes that can be read without waiting; at the end of the stream, or
  // when reading fails, the pipe is closed and no longer watched.
  void read_ready(std::string& into, std::size_t most) {
    char buffer[chunk];
    while (most > 0 && pipe_.get() >= 0) {
      const ssize_t got = ::read(pipe_.get(), buffer, std::min(most, sizeof buffer));
      if (got > 0) {
        into.append(buffer, static_cast<std::size_t>(got));
        most -= static_cast<std::size_t>(got);
      } else if (got < 0 && errno == EINTR) {
        continue;
      } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return;
      } else {
        pipe_.reset();
      }
    }
  }

  pid_t pid_;
  OwnedFd ended_;
  OwnedFd pipe_;
};

struct Pipe {
  OwnedFd read;
  OwnedFd write;
};

std::expected<Pipe, RunError> make_pipe() {
  // Close-on-exec, so that programs other threads start meanwhile do not hold our pipes.
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::unexpected(RunError::os(os_error_text(errno)));
  return Pipe{OwnedFd(fds[0]), OwnedFd(fds[1])};
}

std::string_view name_of(std::string_view entry) { return entry.substr(0, entry.find('=')); }

// The inherited environment with the pairs laid over it: a pair replaces a variable of the
// same name (names compared exactly, as this platform does), and of two pairs the later wins.
std::vector<std::string> merged_environment(const EnvPairs& pairs) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view name = name_of(*entry);
    bool replaced = false;
    for (const auto& pair : pairs) replaced = replaced || pair.first == name;
    if (!replaced) entries.emplace_back(*entry);
  }
  for (std::size_t index = 0; index < pairs.size(); ++index) {
    bool later = false;
    for (std::size_t other = index + 1; other < pairs.size(); ++other) {
      later = later || pairs[other].first == pairs[index].first;
    }
    if (!later) entries.push_back(pairs[index].first + "=" + pairs[index].second);
  }
  return entries;
}

}  // namespace

std::expected<RunOutput, RunError> SystemRunner::captured(const std::string& program,
                                                          const std::vector<std::string>& args,
                                                          std::chrono::nanoseconds limit,
                                                          const OutputLineFn* each_line,
                                                          const RunBounds* bounds) const {
  auto output = make_pipe();
  if (!output) return std::unexpected(output.error());
  auto errors = make_pipe();
  if (!errors) return std::unexpected(errors.error());

  auto pid = spawn(program, args, Stream::null(), Stream::to(output->write.get()),
                   Stream::to(errors->write.get()), nullptr);
  if (!pid) return std::unexpected(pid.error());
  // Only the child may hold the write ends, or the readers would never see the end.
  output->write.reset();
  errors->write.reset();

  PosixChild child(*pid);
  return capture::finish_captured_run(child, std::make_unique<FdSource>(std::move(output->read)),
                                      std::make_unique<FdSource>(std::move(errors->read)), limit, each_line,
                                      bounds);
}

std::expected<AttachedRun, RunError> SystemRunner::run_attached(const std::string& program,
                                                               const std::vector<std::string>& args,
                                                               const EnvPairs& environment, AttachMode mode) const {
  std::vector<std::string> entries;
  std::vector<char*> block;
  if (!environment.empty()) {
    entries = merged_environment(environment);
    for (std::string& entry : entries) block.push_back(entry.data());
    block.push_back(nullptr);
  }
  char* const* env = block.empty() ? nullptr : block.data();

  if ((flags_ & hidden) != 0) {
    // Nobody sees a hidden run: its output and errors go to one pipe, whose end is kept so
    // that a failure can say what the program said.
    auto kept = make_pipe();
    if (!kept) return std::unexpected(kept.error());
    auto pid = spawn(program, args, Stream::null(), Stream::to(kept->write.get()), Stream::to(kept->write.get()), env);
    if (!pid) return std::unexpected(pid.error());
    kept->write.reset();
    PosixWatchedOutput watched(*pid, std::move(kept->read));
    return capture::finish_kept_run(watched);
  }

  Stream in = Stream::null();
  Stream out = Stream::inherit();
  Stream err = Stream::inherit();
  if (mode == AttachMode::ErrorsOnly) {
    out = Stream::null();
  } else if (mode == AttachMode::Interactive) {
    in = Stream::inherit();
  }
  auto pid = spawn(program, args, in, out, err, env);
  if (!pid) return std::unexpected(pid.error());
  int status = 0;
  for (;;) {
    if (::waitpid(*pid, &status, 0) >= 0) break;
    if (errno != EINTR) return std::unexpected(run_error_from_io(errno));
  }
  return AttachedRun{exit_code_of(status), std::nullopt};
}

RunError run_error_from_io(int code) {
  if (code == ENOENT) return RunError::not_found();
  return RunError::os(os_error_text(code));
}

std::string os_error_text(int code) {
  char buffer[256];
  // The GNU strerror_r: gives either the buffer or a text of its own.
  const char* text = ::strerror_r(code, buffer, sizeof buffer);
  return std::string(text) + " (os error " + std::to_string(code) + ")";
}

}  // namespace zelk
