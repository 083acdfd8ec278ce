#include "app_lock_file.h"

namespace zelk::app_lock_file {

// Only close() differs by platform (app_lock_posix.cpp, app_lock_win.cpp).

LockFile::~LockFile() { close(); }

LockFile& LockFile::operator=(LockFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

}  // namespace zelk::app_lock_file
