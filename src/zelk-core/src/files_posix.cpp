#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "files_system.h"
#include "runner.h"

namespace zelk::files_system {

namespace fs = std::filesystem;

namespace {

constexpr mode_t private_file = 0600;
constexpr mode_t private_folder = 0700;

// Takes group and others off a folder this user owns. A folder with the sticky bit is shared
// by design (/tmp, for one) and is left alone, whoever owns it.
void tighten(const fs::path& folder) {
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return;
  if (status.st_uid != ::geteuid() || (status.st_mode & S_ISVTX) != 0) return;
  if ((status.st_mode & 077) == 0) return;
  (void)::chmod(folder.c_str(), status.st_mode & 0700);
}

}  // namespace

void keep_private(const fs::path& path) {
  // Opened without following a link, so only what lies at the path itself changes; never
  // waiting on a pipe that may lie there.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat status {};
  if (::fstat(fd, &status) == 0 && status.st_uid == ::geteuid() && (status.st_mode & 077) != 0) {
    const bool shared_folder = S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) != 0;
    if (S_ISREG(status.st_mode) || (S_ISDIR(status.st_mode) && !shared_folder)) {
      (void)::fchmod(fd, status.st_mode & 0700);
    }
  }
  ::close(fd);
}

std::expected<void, NewFileError> write_new_file(const fs::path& path, std::string_view bytes, NewFileWay way) {
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | (way.never_follow_link ? O_NOFOLLOW : 0);
  const int fd = ::open(path.c_str(), flags, private_file);
  if (fd < 0) {
    const int error = errno;
    return std::unexpected(NewFileError{os_error_text(error), error == EEXIST});
  }
  // The mode given to open() is narrowed by the umask; fchmod sets it exactly, still before
  // anything is written.
  int error = ::fchmod(fd, private_file) == 0 ? 0 : errno;
  std::size_t written = 0;
  while (error == 0 && written < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (put < 0) {
      if (errno != EINTR) error = errno;
      continue;
    }
    written += static_cast<std::size_t>(put);
  }
  if (way.put_on_disk && error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
  if (error != 0) {
    ::unlink(path.c_str());
    return std::unexpected(NewFileError{os_error_text(error), false});
  }
  return {};
}

std::expected<std::string, std::string> read_whole_file(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(os_error_text(errno));
  std::string bytes;
  char buffer[65536];
  int error = 0;
  while (true) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      error = errno;  // a folder at the path, for one
      break;
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  if (error != 0) return std::unexpected(os_error_text(error));
  return bytes;
}

std::expected<std::string, PlainFileError> read_plain_file(const fs::path& path, std::size_t limit) {
  using Kind = PlainFileError::Kind;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    return std::unexpected(PlainFileError{error == ELOOP ? Kind::NotPlain : Kind::System, os_error_text(error)});
  }
  struct stat status {};
  std::expected<std::string, PlainFileError> result;
  if (::fstat(fd, &status) != 0) {
    result = std::unexpected(PlainFileError{Kind::System, os_error_text(errno)});
  } else if (!S_ISREG(status.st_mode)) {
    result = std::unexpected(PlainFileError{Kind::NotPlain, {}});
  } else {
    std::string bytes;
    char buffer[16384];
    while (result) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        result = std::unexpected(PlainFileError{Kind::System, os_error_text(errno)});
      } else if (got == 0) {
        break;
      } else if (bytes.size() + static_cast<std::size_t>(got) > limit) {
        result = std::unexpected(PlainFileError{Kind::TooLarge, {}});
      } else {
        bytes.append(buffer, static_cast<std::size_t>(got));
      }
    }
    if (result) result = std::move(bytes);
  }
  ::close(fd);
  return result;
}

std::expected<void, std::string> replace_file(const fs::path& from, const fs::path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return std::unexpected(os_error_text(errno));
  return {};
}

std::uint64_t process_id() { return static_cast<std::uint64_t>(::getpid()); }

std::expected<void, std::string> make_private_folder(const fs::path& folder) {
  // The levels that are missing, deepest first.
  std::vector<fs::path> missing;
  for (fs::path level = folder; !level.empty();) {
    struct stat status {};
    if (::stat(level.c_str(), &status) == 0) {
      if (!S_ISDIR(status.st_mode)) return std::unexpected(os_error_text(ENOTDIR));
      break;
    }
    if (errno != ENOENT) return std::unexpected(os_error_text(errno));
    missing.push_back(level);
    fs::path parent = level.parent_path();
    if (parent == level) break;
    level = std::move(parent);
  }
  for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
    if (::mkdir(level->c_str(), private_folder) != 0) {
      const int error = errno;
      // Another process may have made it meanwhile; a folder is all that is asked for.
      struct stat status {};
      if (error == EEXIST && ::stat(level->c_str(), &status) == 0 && S_ISDIR(status.st_mode)) continue;
      return std::unexpected(os_error_text(error == EEXIST ? ENOTDIR : error));
    }
    // The umask may have narrowed the mode given to mkdir().
    (void)::chmod(level->c_str(), private_folder);
  }
  tighten(folder);
  return {};
}

}  // namespace zelk::files_system
