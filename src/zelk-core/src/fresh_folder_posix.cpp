#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fresh_folder.h"
#include "runner.h"

namespace zelk {

namespace fs = std::filesystem;

namespace {

std::unexpected<FreshError> failed(int error) { return std::unexpected(FreshError{os_error_text(error), false}); }

// fsync of a descriptor opened for reading: Linux and macOS put the file's data on disk for it.
std::expected<void, std::string> sync_opened(const fs::path& path, int flags) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | flags);
  if (fd < 0) return std::unexpected(os_error_text(errno));
  const int error = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  if (error != 0) return std::unexpected(os_error_text(error));
  return {};
}

}  // namespace

std::expected<void, FreshError> make_fresh_folder(const fs::path& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0) {
    const int error = errno;
    return std::unexpected(FreshError{os_error_text(error), error == EEXIST});
  }
  // What was made could have been swapped for another's folder or a link since; only a folder
  // of this user's own goes on.
  struct stat status {};
  if (::lstat(folder.c_str(), &status) != 0) return failed(errno);
  if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()) return failed(EPERM);
  // The umask may have narrowed the mode given to mkdir(), never widened it.
  if (::chmod(folder.c_str(), 0700) != 0) return failed(errno);
  return {};
}

std::expected<void, std::string> sync_file(const fs::path& path) { return sync_opened(path, 0); }

std::expected<void, std::string> sync_folder(const fs::path& folder) { return sync_opened(folder, O_DIRECTORY); }

std::expected<void, FreshError> rename_fresh_folder(const fs::path& from, const fs::path& to) {
  // Plain rename() would replace an empty folder of that name.
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    const int error = errno;
    return std::unexpected(FreshError{os_error_text(error), error == EEXIST || error == ENOTEMPTY});
  }
  return {};
}

}  // namespace zelk
