#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "sha256.h"
#include "test_folder.h"

namespace zelk {
namespace {

std::string sha256sum_of(const std::filesystem::path& path) {
  std::string command = "sha256sum '" + path.string() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  char line[256] = {};
  std::string out = fgets(line, sizeof line, pipe) ? std::string(line) : std::string();
  pclose(pipe);
  return out.substr(0, 64);
}

// Large random files of awkward sizes, compared with the system's own sha256sum.
TEST(Sha256, AgreesWithSha256sumOnLargeRandomFiles) {
  TestFolder folder;
  std::mt19937_64 random(20240611);
  for (std::size_t size : {std::size_t{55}, std::size_t{64}, std::size_t{65535}, std::size_t{65537},
                           std::size_t{33554433}}) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    const auto path = folder.path() / ("random-" + std::to_string(size) + ".bin");
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const std::string expected = sha256sum_of(path);
    ASSERT_EQ(expected.size(), 64u);
    EXPECT_EQ(sha256_file_hex(path).value(), expected) << size;
    EXPECT_EQ(sha256_hex(bytes), expected) << size;
  }
}

}  // namespace
}  // namespace zelk
