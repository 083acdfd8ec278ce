#pragma once
// How the fake runtime program (tests/helpers/fake_podman.cpp) writes down each call, so a
// test can compare the argument lists it received with the ones Zelk meant to pass. Header
// only: the fake program includes it too.

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace zelk {

/// One argument between double quotes, with backslash, double quote, tab, carriage return
/// and line feed written as \\, \", \t, \r and \n.
inline std::string quote_call_argument(std::string_view argument) {
  std::string quoted = "\"";
  for (char c : argument) {
    switch (c) {
      case '\\': quoted += "\\\\"; break;
      case '"': quoted += "\\\""; break;
      case '\t': quoted += "\\t"; break;
      case '\r': quoted += "\\r"; break;
      case '\n': quoted += "\\n"; break;
      default: quoted += c;
    }
  }
  return quoted + "\"";
}

/// The line of one call: every argument quoted, joined by one blank.
inline std::string fake_call_line(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& arg : args) {
    if (!line.empty()) line += ' ';
    line += quote_call_argument(arg);
  }
  return line;
}

/// A condition that holds while the fake runtime (its folder holds state.txt) has the container
/// running: a ReadyListener made with it holds the app's port as the container would.
inline std::function<bool()> fake_container_runs(std::filesystem::path folder, std::string container) {
  return [state = folder / "state.txt", line = "container\t" + container + "\trunning\t"] {
    std::ifstream in(state, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str().find("\n" + line) != std::string::npos || text.str().starts_with(line);
  };
}

}  // namespace zelk
