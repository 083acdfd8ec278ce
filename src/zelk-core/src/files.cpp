#include "files.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace zelk {

namespace {

std::string error_text(const std::error_code& error) {
  return error.message() + " (os error " + std::to_string(error.value()) + ")";
}

// A name no other writer in this process picks; the process id is not needed because the
// rename is what publishes the file and a leftover temporary never shadows anything.
std::filesystem::path temporary_beside(const std::filesystem::path& path) {
  static std::atomic<unsigned> counter{0};
  std::filesystem::path temp = path;
  temp += ".tmp" + std::to_string(counter.fetch_add(1));
  return temp;
}

}  // namespace

std::expected<void, std::string> write_file_atomically(const std::filesystem::path& path,
                                                       std::string_view bytes) {
  const std::filesystem::path temp = temporary_beside(path);
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      std::error_code error(errno ? errno : EACCES, std::generic_category());
      return std::unexpected(error_text(error));
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      std::error_code error(errno ? errno : EIO, std::generic_category());
      out.close();
      std::error_code ignored;
      std::filesystem::remove(temp, ignored);
      return std::unexpected(error_text(error));
    }
  }
  std::error_code error;
  std::filesystem::rename(temp, path, error);
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    return std::unexpected(error_text(error));
  }
  return {};
}

std::expected<std::string, std::string> read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::error_code error(errno ? errno : ENOENT, std::generic_category());
    return std::unexpected(error_text(error));
  }
  // A read error (a folder at the path, for one) surfaces as an exception from the stream
  // buffer; it becomes the system's text like any other failure.
  try {
    errno = 0;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::unexpected(error_text(std::error_code(EIO, std::generic_category())));
    return bytes;
  } catch (const std::exception&) {
    return std::unexpected(error_text(std::error_code(errno ? errno : EIO, std::generic_category())));
  }
}

}  // namespace zelk
