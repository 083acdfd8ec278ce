#include "zelk/console.h"

#include <cstdio>
#include <thread>

#include "apps.h"
#include "http.h"
#include "interrupt.h"
#include "platform.h"
#include "zelk/commands.h"

namespace zelk {

namespace {

class StdoutWriter final : public OutputWriter {
 public:
  void write(std::string_view bytes) override {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
  }
};

void write_error(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

int console_main(const std::vector<std::string>& args) {
  std::optional<std::filesystem::path> home = data_folder();
  if (!home) {
    write_error("zelk: no home directory was found. Set ZELK_HOME.\n");
    return 1;
  }

  RecipeCatalogue catalogue = load_catalogue(*home);
  for (const std::string& notice : catalogue.notices) write_error("zelk: " + notice + "\n");

  const SystemRunner runner(0);
  StdoutWriter output;
  const HttpProbe probe = http_probe;
  const SleepFn sleep = [](std::chrono::nanoseconds duration) { std::this_thread::sleep_for(duration); };
  const FillRandomFn random = [](std::span<std::uint8_t> buffer) { return fill_random(buffer); };
  const OpenInBrowserFn browser = [](const std::string& address) { return open_in_browser(address); };
  const ClockFn clock = [] { return std::chrono::system_clock::now(); };
  const InterruptWatch interrupts{
      .watch = [] { watch_interrupts(); },
      .requested = [] { return interrupt_requested(); },
  };
  CommandContext ctx{
      .home = *home,
      .recipes = catalogue.recipes,
      .runner = runner,
      .output = output,
      .probe = probe,
      .sleep = sleep,
      .fill_random = random,
      .open_in_browser = browser,
      .platform = platform_word,
      .now = clock,
      .interrupts = &interrupts,
      .home_is_default = !get_env("ZELK_HOME").has_value() || get_env("ZELK_HOME")->empty(),
  };

  CommandResult result = run_command(ctx, args);
  // A command the user stopped ends as a program stopped by that request would, whatever it
  // managed to clean up first, so a script that runs zelk sees the stop.
  const int failed = interrupt_requested() ? interrupt_exit_code() : 1;
  if (result) return interrupt_requested() ? failed : 0;
  std::fflush(stdout);
  write_error("zelk: " + result.error() + "\n");
  return failed;
}

}  // namespace zelk
