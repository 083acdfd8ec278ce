// Stands in for the program's installer: writes its arguments, one a line, to
// "<its own path>.args" (through a temporary file and a rename, so a reader never sees half of
// it) and ends. With ZELK_FAKE_INSTALLER_HOLD naming a file it first waits until that file
// exists, as a real installer runs a while (ten minutes at most, should the test be gone).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  if (const char* hold = std::getenv("ZELK_FAKE_INSTALLER_HOLD"); hold != nullptr && *hold != '\0') {
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    std::error_code ignored;
    while (!std::filesystem::exists(hold, ignored) && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  const std::string marker = std::string(argv[0]) + ".args";
  {
    std::ofstream out(marker + ".tmp", std::ios::binary);
    for (int i = 1; i < argc; ++i) out << argv[i] << "\n";
  }
  return std::rename((marker + ".tmp").c_str(), marker.c_str()) == 0 ? 0 : 1;
}
