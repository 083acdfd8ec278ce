#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform.h"
#include "runner.h"
#include "update.h"

namespace zelk {

const std::string_view update_platform_word = "linux-x64";

namespace {

// The installer outlives this program: it inherits its three null streams and nothing else, so
// it never holds open a pipe of another run (whose reader would then wait for the installer) or
// a socket of this program. Every other descriptor is marked to close at the exec, which keeps
// the report pipe open until then.
void close_other_descriptors_at_exec() {
#ifdef CLOSE_RANGE_CLOEXEC
  if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
  rlimit limit{};
  rlim_t highest = 65536;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) highest = limit.rlim_cur;
  if (highest > (rlim_t{1} << 20)) highest = rlim_t{1} << 20;
  for (int fd = 3; static_cast<rlim_t>(fd) < highest; ++fd) {
    const int flags = fcntl(fd, F_GETFD);
    if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  }
}

// Only async-signal-safe calls between fork and exec: the program may have other threads.
[[noreturn]] void run_detached_child(const char* program, char* const* argv, int report) {
  pid_t grandchild = setsid() < 0 ? -1 : fork();
  if (grandchild < 0) {
    int error = errno;
    (void)!write(report, &error, sizeof error);
    _exit(127);
  }
  if (grandchild > 0) _exit(0);  // the middle child ends; the grandchild runs on, orphaned
  int null_in = open("/dev/null", O_RDONLY);
  int null_out = open("/dev/null", O_WRONLY);
  if (null_in < 0 || null_out < 0 || dup2(null_in, 0) < 0 || dup2(null_out, 1) < 0 ||
      dup2(null_out, 2) < 0) {
    int error = errno;
    (void)!write(report, &error, sizeof error);
    _exit(127);
  }
  close_other_descriptors_at_exec();
  execv(program, argv);
  int error = errno;
  (void)!write(report, &error, sizeof error);
  _exit(127);
}

}  // namespace

// The Windows creation flags have no meaning here: the installer always runs in a session of
// its own, so it outlives this program and is never its zombie.
std::expected<void, std::string> start_installer(const std::filesystem::path& path, bool tray,
                                                 std::uint32_t /*creation_flags*/) {
  std::error_code error;
  std::filesystem::permissions(path,
                               std::filesystem::perms::owner_exec | std::filesystem::perms::owner_read,
                               std::filesystem::perm_options::add, error);
  if (error) return std::unexpected(os_error_text(error.value()));

  // The switches of the Windows installer mean nothing to a program here: it is started alone.
  (void)tray;
  const std::string program = path.native();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  argv.push_back(nullptr);

  // The grandchild reports a failed exec through this pipe; a successful exec closes it.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return std::unexpected(os_error_text(errno));
  pid_t child = fork();
  if (child < 0) {
    int code = errno;
    close(report[0]);
    close(report[1]);
    return std::unexpected(os_error_text(code));
  }
  if (child == 0) {
    close(report[0]);
    run_detached_child(program.c_str(), argv.data(), report[1]);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int child_error = 0;
  ssize_t got = 0;
  do {
    got = read(report[0], &child_error, sizeof child_error);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof child_error)) return std::unexpected(os_error_text(child_error));
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return std::unexpected(std::string("The installer's process could not be detached."));
  }
  return {};
}

}  // namespace zelk
