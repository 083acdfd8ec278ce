// What a user waits for, timed on a real Podman: "zelk list" (the four built-in apps and one
// running app that answers) and "zelk start" of an app that already runs, each beside the
// runtime's own container list call that it makes; "zelk list" with eight running apps that take
// a request and never answer it, beside one probe of such an app (its time-out) and the list
// call; each in turns within one run so that the machine's drift touches all alike; and the load
// of a catalogue of 100 added recipes. The figures are printed and compared with the goals; a
// figure never makes the run fail. Everything it makes in the runtime carries its process id and
// is removed before it ends.
//
//   zelk_bench [--short] [--rounds N] [--slow-rounds N] [--loads N] [--zelk PROGRAM]

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <expected>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "apps.h"
#include "http.h"
#include "platform.h"
#include "runner.h"
#include "tcp_listener.h"
#include "test_folder.h"
#include "test_image.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using zelk::RunError;
using zelk::RunOutput;

constexpr std::chrono::seconds program_limit{120};
const std::string runtime = "podman";
// The very call "zelk list" and "zelk start" make to learn the containers and their states.
const std::vector<std::string> list_call{runtime, "ps", "-a", "--format", "{{.Names}}\t{{.State}}\t{{.Labels}}"};
constexpr double list_goal = 1.05;
constexpr double start_goal = 1.05;
constexpr double slow_goal = 1.2;
constexpr int added_recipes = 100;
constexpr int slow_apps = 8;
// The path of the test image that takes a request and never answers it in time.
const std::string silent_path = "/cgi-bin/silent";

std::atomic<bool> stopping{false};

void on_signal(int) { stopping = true; }

// A round of the list or the start takes a few tens of milliseconds and the runtime's own call
// varies by a tenth from one to the next: a ratio needs many rounds to settle.
struct Settings {
  int rounds = 100;
  int warmup = 3;
  int slow_rounds = 10;
  int slow_warmup = 1;
  int loads = 100;
};

// Environment entries for a run: this process's own, with ZELK_HOME set to the data folder.
class Environment {
 public:
  explicit Environment(const std::string& home) {
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
      if (std::strncmp(*entry, "ZELK_HOME=", 10) != 0) entries_.emplace_back(*entry);
    }
    entries_.push_back("ZELK_HOME=" + home);
    for (std::string& entry : entries_) block_.push_back(entry.data());
    block_.push_back(nullptr);
  }
  char* const* block() const { return block_.data(); }

 private:
  std::vector<std::string> entries_;
  std::vector<char*> block_;
};

// Runs the program with every stream on the null device and gives its wall time in
// milliseconds, or why it could not be run or did not succeed.
std::expected<double, std::string> timed_run(const std::vector<std::string>& command, const Environment& env) {
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const Clock::time_point begin = Clock::now();
  pid_t pid = 0;
  const int started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), env.block());
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return std::unexpected(command[0] + " could not be started: " + std::strerror(started));
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return std::unexpected(command[0] + " could not be waited for: " + std::strerror(errno));
  }
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::unexpected(command[0] + " " + command[1] + " failed");
  return ms;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string spread(const std::vector<double>& ms) {
  const auto [low, high] = std::minmax_element(ms.begin(), ms.end());
  return "median " + fixed(median(ms), 1) + " ms (min " + fixed(*low, 1) + ", max " + fixed(*high, 1) + ")";
}

struct Comparison {
  std::string what;
  double ratio = 0;
  double goal = 0;
};

// One thing timed in a round: a program run, or a call in this process; gives milliseconds.
struct Timed {
  std::string name;
  std::function<std::expected<double, std::string>()> run;
};

// Times the things in turns, in their order in even rounds and backwards in odd ones, so that
// none always comes first; gives each thing's milliseconds of the rounds after the warm-up.
std::expected<std::vector<std::vector<double>>, std::string> in_turns(const std::vector<Timed>& things, int warmup,
                                                                     int rounds) {
  std::vector<std::vector<double>> ms(things.size());
  for (int round = 0; round < warmup + rounds && !stopping; ++round) {
    std::vector<double> got(things.size());
    for (std::size_t step = 0; step < things.size(); ++step) {
      const std::size_t which = round % 2 == 0 ? step : things.size() - 1 - step;
      auto one = things[which].run();
      if (!one) return std::unexpected(one.error());
      got[which] = *one;
    }
    if (round < warmup) continue;
    for (std::size_t which = 0; which < things.size(); ++which) ms[which].push_back(got[which]);
  }
  if (ms.front().empty()) return std::unexpected(std::string("stopped before any round was timed"));
  return ms;
}

Timed program(const std::string& name, const std::vector<std::string>& command, const Environment& env) {
  return Timed{name, [&command, &env] { return timed_run(command, env); }};
}

// Prints every thing's figures and the median of the rounds' ratios, which `ratio` makes of one
// round's milliseconds.
Comparison report(const std::string& what, const std::vector<Timed>& things,
                  const std::vector<std::vector<double>>& ms,
                  const std::function<double(const std::vector<double>&)>& ratio, const std::string& ratio_of,
                  double goal) {
  std::printf("%s, %zu rounds:\n", what.c_str(), ms.front().size());
  for (std::size_t which = 0; which < things.size(); ++which) {
    std::printf("  %-40s %s\n", things[which].name.c_str(), spread(ms[which]).c_str());
  }
  std::vector<double> ratios;
  for (std::size_t round = 0; round < ms.front().size(); ++round) {
    std::vector<double> one;
    for (const std::vector<double>& thing : ms) one.push_back(thing[round]);
    ratios.push_back(ratio(one));
  }
  const double middle = median(ratios);
  std::printf("  ratio %s%s (median of the rounds' ratios; goal %s: %s)\n\n", fixed(middle, 2).c_str(),
              ratio_of.c_str(), fixed(goal, 2).c_str(), middle <= goal ? "met" : "NOT met");
  std::fflush(stdout);
  return Comparison{what, middle, goal};
}

// Runs the two commands in turns and compares A with B.
std::expected<Comparison, std::string> side_by_side(const std::string& what, const std::vector<std::string>& a,
                                                    const std::string& a_name, const std::vector<std::string>& b,
                                                    const std::string& b_name, const Environment& env,
                                                    const Settings& settings, double goal) {
  const std::vector<Timed> things{program(a_name, a, env), program(b_name, b, env)};
  auto ms = in_turns(things, settings.warmup, settings.rounds);
  if (!ms) return std::unexpected(ms.error());
  return report(what, things, *ms, [](const std::vector<double>& round) { return round[0] / round[1]; }, "",
                goal);
}

// What a run printed, or why it failed, for the checks before the timing.
std::expected<RunOutput, std::string> captured(const zelk::CommandRunner& runner,
                                               const std::vector<std::string>& command) {
  auto run =
      runner.run_captured(command[0], std::vector<std::string>(command.begin() + 1, command.end()), program_limit);
  std::string line;
  for (const std::string& word : command) line += " " + word;
  if (!run) return std::unexpected("\"" + line.substr(1) + "\" failed: " + zelk::fmt_run_error(run.error()));
  if (!run->success())
    return std::unexpected("\"" + line.substr(1) + "\" failed:\n" + run->stdout_text + run->stderr_text);
  return *run;
}

std::string first_line_of_file(const char* path, const std::string& key) {
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(key)) {
      const std::size_t colon = line.find(':');
      std::string value = colon == std::string::npos ? line : line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.erase(0, 1);
      return value;
    }
  }
  return "unknown";
}

void print_machine(const zelk::CommandRunner& runner) {
  utsname system{};
  ::uname(&system);
  std::string version = "unknown";
  if (auto run = runner.run_captured(runtime, {"--version"}, program_limit); run && run->success()) {
    version = run->stdout_text;
    while (!version.empty() && (version.back() == '\n' || version.back() == '\r')) version.pop_back();
  }
  double load[1] = {0};
  ::getloadavg(load, 1);
  std::printf("Machine: %s, %ld processors, Linux %s, %s, load %.2f\n\n",
              first_line_of_file("/proc/cpuinfo", "model name").c_str(), ::sysconf(_SC_NPROCESSORS_ONLN),
              system.release, version.c_str(), load[0]);
}

// The load of the built-in recipes and 100 added ones, in milliseconds per load.
std::expected<void, std::string> time_catalogue(const std::string& image, const Settings& settings) {
  const zelk::TestFolder home;
  std::filesystem::create_directories(home.path() / "recipes");
  for (int n = 0; n < added_recipes; ++n) {
    char id[32];
    std::snprintf(id, sizeof id, "bench-%03d", n);
    std::ofstream(home.path() / "recipes" / (std::string(id) + ".yaml"), std::ios::binary)
        << zelk::e2e::test_page_recipe(id, static_cast<std::uint16_t>(42000 + n), image);
  }
  const zelk::RecipeCatalogue check = zelk::load_catalogue(home.path());
  if (check.recipes.size() != zelk::builtin_recipes().size() + added_recipes || !check.notices.empty()) {
    return std::unexpected("the catalogue of " + std::to_string(added_recipes) + " added recipes did not load whole: " +
                           std::to_string(check.recipes.size()) + " recipes, " + std::to_string(check.notices.size()) +
                           " notices" + (check.notices.empty() ? "" : ", first: " + check.notices.front()));
  }
  std::vector<double> ms;
  for (int n = 0; n < settings.loads && !stopping; ++n) {
    const Clock::time_point begin = Clock::now();
    const zelk::RecipeCatalogue catalogue = zelk::load_catalogue(home.path());
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
    if (catalogue.recipes.size() != check.recipes.size()) return std::unexpected("a load gave another catalogue");
  }
  if (ms.empty()) return std::unexpected(std::string("stopped before any load was timed"));
  std::printf("Loading the catalogue (%zu built-in and %d added recipes), %zu loads:\n  %s per load\n\n",
              zelk::builtin_recipes().size(), added_recipes, ms.size(), spread(ms).c_str());
  return {};
}

// True when the table has a row for the app whose state is the word.
bool shows_state(const std::string& table, const std::string& id, const std::string& word) {
  std::size_t at = 0;
  while (at < table.size()) {
    std::size_t end = table.find('\n', at);
    if (end == std::string::npos) end = table.size();
    const std::string line = table.substr(at, end - at);
    if (line.starts_with(id + " ")) {
      const std::size_t state = line.find_first_not_of(' ', id.size());
      return state != std::string::npos && line.compare(state, word.size() + 1, word + " ") == 0;
    }
    at = end + 1;
  }
  return false;
}

std::size_t line_count(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Everything the run makes in the runtime, removed when it ends however it ends.
class RuntimeLeftovers {
 public:
  explicit RuntimeLeftovers(const zelk::CommandRunner& runner) : runner_(runner) {}
  ~RuntimeLeftovers() {
    for (const std::string& container : containers)
      (void)runner_.run_captured(runtime, {"rm", "-f", container}, program_limit);
    for (const std::string& image : images) (void)runner_.run_captured(runtime, {"rmi", "-f", image}, program_limit);
  }
  RuntimeLeftovers(const RuntimeLeftovers&) = delete;
  RuntimeLeftovers& operator=(const RuntimeLeftovers&) = delete;
  std::vector<std::string> containers;
  std::vector<std::string> images;

 private:
  const zelk::CommandRunner& runner_;
};

// "zelk list" over eight apps whose containers run and whose ready path takes the request and
// never answers: each such app costs the list one probe time-out. Timed beside one probe of such
// an app and the runtime's list call, whose sum is what a list whose probes all run at once costs.
std::expected<Comparison, std::string> time_slow_list(const zelk::CommandRunner& runner, RuntimeLeftovers& leftovers,
                                                      const std::string& image, const std::string& zelk_program,
                                                      const Settings& settings) {
  const zelk::TestFolder home;
  std::filesystem::create_directories(home.path() / "recipes");
  const std::string pid = std::to_string(::getpid());
  std::vector<std::string> ids;
  std::vector<std::uint16_t> ports;
  for (int n = 0; n < slow_apps; ++n) {
    const std::string id = "slow-" + pid + "-" + std::to_string(n);
    const std::uint16_t port = zelk::unused_port();
    std::string recipe = zelk::e2e::test_page_recipe(id, port, image);
    recipe.replace(recipe.find("ready: /index.html"), std::string("ready: /index.html").size(),
                   "ready: " + silent_path);
    std::ofstream(home.path() / "recipes" / (id + ".yaml"), std::ios::binary) << recipe;
    // Started by the runtime itself: "zelk start" would wait for an answer that never comes.
    leftovers.containers.push_back("torvo-" + id);
    if (auto started = captured(runner, {runtime, "run", "-d", "--name", "torvo-" + id, "-p",
                                         "127.0.0.1:" + std::to_string(port) + ":8080", image});
        !started) {
      return std::unexpected(started.error());
    }
    ids.push_back(id);
    ports.push_back(port);
  }
  // Each server takes requests before the timing begins: its page answers.
  for (const std::uint16_t port : ports) {
    const Clock::time_point give_up = Clock::now() + std::chrono::seconds(60);
    while (zelk::http_probe(port, "/index.html") != std::optional<std::uint16_t>(200)) {
      if (Clock::now() > give_up || stopping) {
        return std::unexpected("the app on port " + std::to_string(port) + " did not answer within 60 seconds");
      }
      ::usleep(100'000);
    }
  }
  auto silent = [port = ports.front()]() -> std::expected<double, std::string> {
    const Clock::time_point begin = Clock::now();
    const std::optional<std::uint16_t> status = zelk::http_probe(port, silent_path);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
    if (status) return std::unexpected("the silent page answered " + std::to_string(*status));
    return ms;
  };

  const std::vector<std::string> zelk_list{zelk_program, "list"};
  const Environment env(zelk::path_to_utf8(home.path()));
  auto listed = captured(runner, {"env", "ZELK_HOME=" + zelk::path_to_utf8(home.path()), zelk_program, "list"});
  if (!listed || line_count(listed->stdout_text) != 1 + zelk::builtin_recipes().size() + slow_apps ||
      !std::all_of(ids.begin(), ids.end(), [&](const std::string& id) {
        return shows_state(listed->stdout_text, id, "starting");
      })) {
    return std::unexpected("\"zelk list\" does not show the silent apps as starting: " +
                           (listed ? listed->stdout_text : listed.error()));
  }

  const std::vector<Timed> things{program("zelk list", zelk_list, env),
                                  program("podman ps -a (the same call, alone)", list_call, env),
                                  Timed{"one probe of such an app (its time-out)", silent}};
  auto ms = in_turns(things, settings.slow_warmup, settings.slow_rounds);
  if (!ms) return std::unexpected(ms.error());
  return report("zelk list (4 built-in apps, " + std::to_string(slow_apps) +
                    " running apps that never answer)",
                things, *ms, [](const std::vector<double>& round) { return round[0] / (round[2] + round[1]); },
                " of one probe time-out plus the ps -a call", slow_goal);
}

int run(const Settings& settings, const std::string& zelk_program) {
  const zelk::SystemRunner runner;
  print_machine(runner);

  const zelk::TestFolder scratch;
  const zelk::TestFolder home;
  const std::string pid = std::to_string(::getpid());
  const std::string image = "localhost/zelk-bench-" + pid + ":1";
  const std::string id = "bench-" + pid;
  RuntimeLeftovers leftovers(runner);

  if (auto ps = captured(runner, list_call); !ps) {
    std::fprintf(stderr, "Podman does not answer here: %s\n", ps.error().c_str());
    return 1;
  }
  leftovers.images.push_back(image);
  if (auto imported = zelk::e2e::import_test_image(runner, runtime, scratch.path(), image); !imported) {
    std::fprintf(stderr, "The test image could not be made: %s\n", imported.error().c_str());
    return 1;
  }
  std::filesystem::create_directories(home.path() / "recipes");
  const std::uint16_t port = zelk::unused_port();
  std::ofstream(home.path() / "recipes" / (id + ".yaml"), std::ios::binary)
      << zelk::e2e::test_page_recipe(id, port, image);

  // The app is started the way a user starts it, and the benchmark goes on only when both
  // commands say what they should.
  const std::vector<std::string> zelk_with_home{"env", "ZELK_HOME=" + zelk::path_to_utf8(home.path()), zelk_program};
  auto command = [&](std::vector<std::string> words) {
    std::vector<std::string> line = zelk_with_home;
    line.insert(line.end(), words.begin(), words.end());
    return line;
  };
  leftovers.containers.push_back("torvo-" + id);
  auto first_start = captured(runner, command({"start", id}));
  const std::string ready_line = "Test page " + id + " is ready: http://127.0.0.1:" + std::to_string(port) + "/\n";
  if (!first_start || !first_start->stdout_text.ends_with(ready_line)) {
    std::fprintf(stderr, "The app did not start: %s\n",
                 first_start ? first_start->stdout_text.c_str() : first_start.error().c_str());
    return 1;
  }
  auto listed = captured(runner, command({"list"}));
  if (!listed || !shows_state(listed->stdout_text, id, "ready") ||
      line_count(listed->stdout_text) != 1 + zelk::builtin_recipes().size() + 1) {
    std::fprintf(stderr, "\"zelk list\" does not show the running app as ready: %s\n",
                 listed ? listed->stdout_text.c_str() : listed.error().c_str());
    return 1;
  }

  const Environment env(zelk::path_to_utf8(home.path()));
  const std::vector<std::string> zelk_list{zelk_program, "list"};
  const std::vector<std::string> zelk_start{zelk_program, "start", id};
  auto list = side_by_side("zelk list (4 built-in apps, 1 running app)", zelk_list, "zelk list", list_call,
                           "podman ps -a (the same call, alone)", env, settings, list_goal);
  if (!list) {
    if (!stopping) std::fprintf(stderr, "%s\n", list.error().c_str());
    return 1;
  }
  auto start = side_by_side("zelk start of an app that already runs", zelk_start, "zelk start " + id, list_call,
                            "podman ps -a (the same call, alone)", env, settings, start_goal);
  if (!start) {
    if (!stopping) std::fprintf(stderr, "%s\n", start.error().c_str());
    return 1;
  }
  auto slow = time_slow_list(runner, leftovers, image, zelk_program, settings);
  if (!slow) {
    if (!stopping) std::fprintf(stderr, "%s\n", slow.error().c_str());
    return 1;
  }
  if (auto loaded = time_catalogue(image, settings); !loaded) {
    if (!stopping) std::fprintf(stderr, "%s\n", loaded.error().c_str());
    return 1;
  }
  std::printf("Ratios: list %sx (goal %sx), start of a running app %sx (goal %sx), list with %d silent apps %sx "
              "of one probe time-out plus ps -a (goal %sx)\n",
              fixed(list->ratio, 2).c_str(), fixed(list->goal, 2).c_str(), fixed(start->ratio, 2).c_str(),
              fixed(start->goal, 2).c_str(), slow_apps, fixed(slow->ratio, 2).c_str(), fixed(slow->goal, 2).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  std::string zelk_program = ZELK_BINARY;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--short") {
      settings.rounds = 30;
      settings.warmup = 2;
      settings.slow_rounds = 3;
      settings.loads = 20;
    } else if ((arg == "--rounds" || arg == "--slow-rounds" || arg == "--loads") && i + 1 < argc) {
      const int value = std::atoi(argv[++i]);
      if (value < 1) {
        std::fprintf(stderr, "%s wants a whole number of at least 1\n", arg.c_str());
        return 2;
      }
      (arg == "--rounds" ? settings.rounds : arg == "--loads" ? settings.loads : settings.slow_rounds) = value;
    } else if (arg == "--zelk" && i + 1 < argc) {
      zelk_program = argv[++i];
    } else {
      std::fprintf(stderr, "usage: zelk_bench [--short] [--rounds N] [--slow-rounds N] [--loads N] [--zelk PROGRAM]\n");
      return 2;
    }
  }
  // A stop by the user or by CI ends the timing early; the containers are still removed.
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  const int code = run(settings, zelk_program);
  return stopping ? 130 : code;
}
