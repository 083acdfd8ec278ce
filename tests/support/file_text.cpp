#include "file_text.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace zelk {

std::string read_text(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string wait_for_text(const std::filesystem::path& path) {
  for (int tries = 0; tries < 2000; ++tries) {
    std::string text = read_text(path);
    if (!text.empty()) return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return {};
}

}  // namespace zelk
