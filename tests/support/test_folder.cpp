#include "test_folder.h"

#include <atomic>
#include <chrono>
#include <random>

namespace zelk {

TestFolder::TestFolder() {
  static std::atomic<unsigned> counter{0};
  std::random_device seed;
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("zelk-test-" + std::to_string(stamp) + "-" + std::to_string(seed()) + "-" +
           std::to_string(counter.fetch_add(1)));
  std::filesystem::create_directories(path_);
}

TestFolder::~TestFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace zelk
