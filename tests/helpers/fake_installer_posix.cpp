// Stands in for the program's installer: writes its arguments, one a line, to
// "<its own path>.args" (through a temporary file and a rename, so a reader never sees half of
// it) and ends.
#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  const std::string marker = std::string(argv[0]) + ".args";
  {
    std::ofstream out(marker + ".tmp", std::ios::binary);
    for (int i = 1; i < argc; ++i) out << argv[i] << "\n";
  }
  return std::rename((marker + ".tmp").c_str(), marker.c_str()) == 0 ? 0 : 1;
}
