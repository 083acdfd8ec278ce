#include "files.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <system_error>

#include "files_system.h"
#include "platform.h"

namespace zelk {

namespace {

// A temporary name beside the file that no other writer picks: this process's id keeps
// processes apart (the console and the window program share the data folder), the counter
// keeps this process's threads apart, and random bytes keep a name of an ended process with
// the same id apart. The random bytes only make a name, they guard no secret; when the
// system gives none, the id and the counter still do, and an exclusive create catches the rest.
std::filesystem::path temporary_beside(const std::filesystem::path& path) {
  static std::atomic<std::uint64_t> counter{0};
  std::array<std::uint8_t, 8> random{};
  (void)fill_random(random);
  static constexpr char digits[] = "0123456789abcdef";
  std::string suffix = "." + std::to_string(files_system::process_id()) + "-" +
                       std::to_string(counter.fetch_add(1)) + "-";
  for (std::uint8_t byte : random) {
    suffix.push_back(digits[byte >> 4]);
    suffix.push_back(digits[byte & 0xF]);
  }
  std::filesystem::path temp = path;
  temp += suffix + ".tmp";
  return temp;
}

// How many fresh names a write tries when its name is taken; one is taken only by chance.
constexpr int name_attempts = 4;

}  // namespace

std::expected<void, std::string> write_file_atomically(const std::filesystem::path& path,
                                                       std::string_view bytes) {
  std::filesystem::path temp;
  for (int attempt = 1;; ++attempt) {
    temp = temporary_beside(path);
    auto made = files_system::write_new_file(temp, bytes);
    if (made) break;
    if (!made.error().taken || attempt == name_attempts) return std::unexpected(made.error().text);
  }
  if (auto replaced = files_system::replace_file(temp, path); !replaced) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    return std::unexpected(replaced.error());
  }
  return {};
}

void keep_private(const std::filesystem::path& path) { files_system::keep_private(path); }

std::expected<void, std::string> make_private_folder(const std::filesystem::path& folder) {
  return files_system::make_private_folder(folder);
}

std::expected<void, std::string> make_data_folder(const std::filesystem::path& home,
                                                  const std::filesystem::path& below) {
  if (auto made = files_system::make_private_folder(home); !made) return made;
  std::filesystem::path level = home;
  for (const std::filesystem::path& part : below) {
    level /= part;
    if (auto made = files_system::make_private_folder(level); !made) return made;
  }
  return {};
}

std::expected<std::string, PlainFileError> read_plain_file(const std::filesystem::path& path, std::size_t limit) {
  return files_system::read_plain_file(path, limit);
}

std::expected<std::string, std::string> read_file(const std::filesystem::path& path) {
  return files_system::read_whole_file(path);
}

}  // namespace zelk
