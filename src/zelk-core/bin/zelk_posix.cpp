#include <string>
#include <vector>

#include "zelk/console.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return zelk::console_main(args);
}
