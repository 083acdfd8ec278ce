// A stand-in for the podman program, for tests that run the zelk program against a runtime
// that is not there (under Wine it is found on PATH as podman.exe). It answers the calls Zelk
// makes as Podman 4.6 would: "ps", "image exists", "network inspect|create|rm",
// "volume exists|inspect|create|rm|export|import", "run", "start", "stop", "rm", "rmi",
// "logs" and "--version"; anything else fails as an unknown command does.
//
// The folder named by FAKE_PODMAN_DIR holds its two files:
//   state.txt  what exists, one thing a line: "image\t<name>", "network\t<name>",
//              "volume\t<name>", "container\t<name>\t<state>\t<labels>[\t<NAME=value>...]"
//              (labels as "key:value" pairs joined by blanks; the NAME=value fields are the
//              environment variables that "-e NAME" took from this program's environment);
//   calls.txt  one line per call, each argument quoted (tests/support/fake_runtime_calls.h).
// A test writes the images it wants to exist into state.txt before the first call.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../support/fake_runtime_calls.h"
#include "files.h"
#include "platform.h"

#ifdef _WIN32
#include "wide_win.h"
#endif

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

struct Container {
  std::string name;
  std::string state;
  std::string labels;
  std::vector<std::string> environment;
};

struct State {
  std::vector<std::string> images, networks, volumes;
  std::vector<Container> containers;
};

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    parts.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

State read_state(const fs::path& file) {
  State state;
  const std::string text = zelk::read_file(file).value_or("");
  for (std::string line : split(text, '\n')) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> fields = split(line, '\t');
    if (fields.size() < 2) continue;
    if (fields[0] == "image") state.images.push_back(fields[1]);
    if (fields[0] == "network") state.networks.push_back(fields[1]);
    if (fields[0] == "volume") state.volumes.push_back(fields[1]);
    if (fields[0] == "container" && fields.size() >= 4) {
      state.containers.push_back({fields[1], fields[2], fields[3], {fields.begin() + 4, fields.end()}});
    }
  }
  return state;
}

void write_state(const fs::path& file, const State& state) {
  std::string text;
  for (const std::string& name : state.images) text += "image\t" + name + "\n";
  for (const std::string& name : state.networks) text += "network\t" + name + "\n";
  for (const std::string& name : state.volumes) text += "volume\t" + name + "\n";
  for (const Container& c : state.containers) {
    text += "container\t" + c.name + "\t" + c.state + "\t" + c.labels;
    for (const std::string& pair : c.environment) text += "\t" + pair;
    text += "\n";
  }
  (void)zelk::write_file_atomically(file, text);
}

void out(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

int fail(std::string_view message, int code = 125) {
  const std::string line = "Error: " + std::string(message) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  return code;
}

bool holds(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

void drop(std::vector<std::string>& names, const std::string& name) {
  names.erase(std::remove(names.begin(), names.end(), name), names.end());
}

Container* find_container(State& state, const std::string& name) {
  for (Container& c : state.containers) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

/// The arguments after the words that name the command, without the options.
Args operands(const Args& args, std::size_t from) {
  Args rest;
  for (std::size_t i = from; i < args.size(); ++i) {
    if (!args[i].starts_with("-")) rest.push_back(args[i]);
  }
  return rest;
}

int ps(const State& state, const Args& args) {
  if (std::find(args.begin(), args.end(), "-a") == args.end()) return fail("this stand-in lists only with -a");
  for (const Container& c : state.containers) out(c.name + "\t" + c.state + "\tmap[" + c.labels + "]\n");
  return 0;
}

int run(State& state, const Args& args) {
  // Options that take a value, in the forms Zelk writes them.
  static const std::vector<std::string> valued{"--name", "--restart", "--network", "--network-alias", "-p", "-v",
                                               "-e", "--label"};
  Container made{"", "running", "", {}};
  std::vector<std::string> labels, mounts;
  std::optional<std::string> image;
  for (std::size_t i = 1; i < args.size() && !image; ++i) {
    const std::string& arg = args[i];
    if (arg == "-d") continue;
    if (std::find(valued.begin(), valued.end(), arg) != valued.end()) {
      if (i + 1 >= args.size()) return fail("flag needs an argument: " + arg);
      const std::string& value = args[++i];
      if (arg == "--name") made.name = value;
      if (arg == "--label") labels.push_back(value);
      if (arg == "-v") mounts.push_back(value.substr(0, value.find(':')));
      if (arg == "-e") {
        if (value.find('=') != std::string::npos) {
          made.environment.push_back(value);
        } else if (std::optional<std::string> from_here = zelk::get_env(value)) {
          made.environment.push_back(value + "=" + *from_here);
        }
      }
      continue;
    }
    if (arg.starts_with("-")) return fail("unknown flag: " + arg);
    image = arg;
  }
  if (!image) return fail("an image name is needed");
  if (!holds(state.images, *image)) {
    return fail("initializing source docker://" + *image + ": reading manifest: manifest unknown");
  }
  if (find_container(state, made.name)) {
    return fail("creating container storage: the container name \"" + made.name +
                "\" is already in use. You have to remove that container to be able to reuse that name: that name "
                "is already in use");
  }
  for (std::string& label : labels) {
    const std::size_t equals = label.find('=');
    if (equals != std::string::npos) label[equals] = ':';
    made.labels += (made.labels.empty() ? "" : " ") + label;
  }
  for (const std::string& volume : mounts) {
    if (!holds(state.volumes, volume)) state.volumes.push_back(volume);
  }
  state.containers.push_back(made);
  out(std::string(64, 'f') + "\n");
  return 0;
}

int set_container_state(State& state, const Args& args, std::string_view word) {
  const Args names = operands(args, 1);
  if (names.empty()) return fail(std::string(word) + " needs a container");
  for (const std::string& name : names) {
    Container* c = find_container(state, name);
    if (!c) return fail("no container with name or ID \"" + name + "\" found: no such container");
    c->state = word == "start" ? "running" : "exited";
    out(name + "\n");
  }
  return 0;
}

int rm(State& state, const Args& args) {
  const Args names = operands(args, 1);
  if (names.empty()) return fail("rm needs a container");
  for (const std::string& name : names) {
    if (!find_container(state, name))
      return fail("no container with ID or name \"" + name + "\" found: no such container", 1);
    state.containers.erase(std::remove_if(state.containers.begin(), state.containers.end(),
                                          [&](const Container& c) { return c.name == name; }),
                           state.containers.end());
    out(name + "\n");
  }
  return 0;
}

int image(State& state, const Args& args) {
  if (args.size() == 3 && args[1] == "exists") return holds(state.images, args[2]) ? 0 : 1;
  return fail("unrecognized command `podman image " + (args.size() > 1 ? args[1] : std::string()) + "`");
}

int rmi(State& state, const Args& args) {
  const Args names = operands(args, 1);
  for (const std::string& name : names) {
    if (!holds(state.images, name)) return fail(name + ": image not known", 1);
    drop(state.images, name);
  }
  return 0;
}

int network(State& state, const Args& args) {
  const std::string what = args.size() > 1 ? args[1] : std::string();
  const Args names = operands(args, 2);
  if (names.size() != 1) return fail("network " + what + " needs one network");
  const std::string& name = names[0];
  if (what == "inspect") {
    if (!holds(state.networks, name)) return fail("network " + name + ": unable to find network with name or ID " +
                                                  name + ": network not found");
    out("[{\"name\": \"" + name + "\"}]\n");
    return 0;
  }
  if (what == "create") {
    if (holds(state.networks, name)) return fail("network name " + name + " already used: network already exists");
    state.networks.push_back(name);
    out(name + "\n");
    return 0;
  }
  if (what == "rm") {
    if (!holds(state.networks, name))
      return fail("unable to find network with name or ID " + name + ": network not found", 1);
    drop(state.networks, name);
    out(name + "\n");
    return 0;
  }
  return fail("unrecognized command `podman network " + what + "`");
}

int volume(State& state, const Args& args) {
  const std::string what = args.size() > 1 ? args[1] : std::string();
  const std::string name = args.size() > 2 ? args[2] : std::string();
  if (what == "exists" && args.size() == 3) return holds(state.volumes, name) ? 0 : 1;
  if (what == "inspect" && args.size() == 3) {
    if (!holds(state.volumes, name)) return fail("inspecting object: no such volume " + name);
    out("[{\"Name\": \"" + name + "\"}]\n");
    return 0;
  }
  if (what == "create" && args.size() == 3) {
    if (holds(state.volumes, name)) return fail("volume with name " + name + " already exists: volume already exists");
    state.volumes.push_back(name);
    out(name + "\n");
    return 0;
  }
  if (what == "rm") {
    for (const std::string& each : operands(args, 2)) {
      if (!holds(state.volumes, each)) return fail("no volume with name \"" + each + "\" found: no such volume", 1);
      drop(state.volumes, each);
      out(each + "\n");
    }
    return 0;
  }
  if (what == "export" && args.size() == 5 && args[3] == "-o") {
    if (!holds(state.volumes, name)) return fail("no volume with name \"" + name + "\" found: no such volume");
    auto written = zelk::write_file_atomically(zelk::path_from_utf8(args[4]), "the volume " + name + "\n");
    return written ? 0 : fail(written.error());
  }
  if (what == "import" && args.size() == 4) {
    if (!holds(state.volumes, name)) return fail("no volume with name \"" + name + "\" found: no such volume");
    return zelk::read_file(zelk::path_from_utf8(args[3])) ? 0 : fail("open " + args[3] + ": no such file or directory");
  }
  return fail("unrecognized command `podman volume " + what + "`");
}

int fake_podman(const Args& args) {
  const std::optional<std::string> folder = zelk::get_env("FAKE_PODMAN_DIR");
  if (!folder || folder->empty()) return fail("FAKE_PODMAN_DIR names no folder");
  const fs::path home = zelk::path_from_utf8(*folder);
  const fs::path calls = home / "calls.txt";
  const std::string before = zelk::read_file(calls).value_or("");
  (void)zelk::write_file_atomically(calls, before + zelk::fake_call_line(args) + "\n");

  if (args.empty()) return fail("missing command 'podman COMMAND'");
  const fs::path state_file = home / "state.txt";
  State state = read_state(state_file);
  const std::string& command = args[0];
  int code = 0;
  if (command == "--version" || command == "version") {
    out("podman version 4.6.2\n");
  } else if (command == "ps") {
    code = ps(state, args);
  } else if (command == "run") {
    code = run(state, args);
  } else if (command == "start" || command == "stop") {
    code = set_container_state(state, args, command);
  } else if (command == "rm") {
    code = rm(state, args);
  } else if (command == "image") {
    code = image(state, args);
  } else if (command == "rmi") {
    code = rmi(state, args);
  } else if (command == "network") {
    code = network(state, args);
  } else if (command == "volume") {
    code = volume(state, args);
  } else if (command == "logs") {
    const Args names = operands(args, 1);
    if (names.empty() || !find_container(state, names.back())) return fail("no such container", 125);
    out("a line the app wrote\n");
  } else {
    return fail("unrecognized command `podman " + command + "`");
  }
  if (code == 0) write_state(state_file, state);
  return code;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  Args args;
  for (int i = 1; i < argc; ++i) args.push_back(zelk::from_wide_lossy(argv[i]));
  return fake_podman(args);
}
#else
int main(int argc, char** argv) { return fake_podman(Args(argv + 1, argv + argc)); }
#endif
