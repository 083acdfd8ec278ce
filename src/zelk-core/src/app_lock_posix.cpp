#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app_lock_file.h"
#include "runner.h"

namespace zelk::app_lock_file {

std::expected<std::optional<LockFile>, std::string> LockFile::open(const std::filesystem::path& path) {
  // O_CLOEXEC: a program the command starts, left running, must not keep the app locked.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    const int error = errno;
    // flock needs no right to write: a lock file made earlier locks in a read-only folder too.
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT) return std::nullopt;
    if (fd < 0) return std::unexpected(os_error_text(error));
  }
  return LockFile(fd);
}

std::expected<bool, std::string> LockFile::try_take() {
  while (::flock(static_cast<int>(handle_), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return false;
    if (errno != EINTR) return std::unexpected(os_error_text(errno));
  }
  return true;
}

void LockFile::close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace zelk::app_lock_file
