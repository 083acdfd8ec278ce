// The window program's loop with its real services and real worker threads, against the fake
// runtime program, talking to the page in a browser through lines on its standard streams.
// The browser test starts it; it stands where the window's web view would be:
//   out: "script <JSON text>"  a script the loop runs in the page, in order
//        "opened <address>"    an address the program would open in the browser
//   in:  "show"                the user asks for the window
//        "word <JSON text>"    a word the page posted
//        "quit"                the tray menu's "Quit (apps keep running)"
// Usage: page_bridge <fake podman program>
#include <stdlib.h>

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "documents.h"
#include "event_queue.h"
#include "files.h"
#include "platform.h"
#include "fake_runtime_calls.h"
#include "ready_listener.h"
#include "test_folder.h"
#include "window_loop.h"
#include "window_flow_parts.h"
#include "window_services.h"

namespace zelk {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::mutex output_mutex;

void say(const std::string& line) {
  std::lock_guard lock(output_mutex);
  std::cout << line << '\n' << std::flush;
}

// The window is the browser on the other end of the pipe: scripts go out as lines.
class BridgeShell final : public Shell {
 public:
  std::expected<void, std::string> add_tray_icon(std::string_view, const TrayMenu&) override { return {}; }
  void set_tray_menu(const TrayMenu&) override {}
  void set_tooltip(std::string_view) override {}
  void show_notice(std::string_view) override {}
  bool window_open() const override { return open_; }
  std::expected<void, std::string> open_window() override {
    open_ = true;
    return {};
  }
  void raise_window() override {}
  void close_window() override { open_ = false; }
  void run_script(std::string script) override {
    if (open_) say("script " + json_text(script));
  }
  std::expected<fs::path, std::string> program_folder() const override { return fs::path("/opt/zelk"); }
  std::expected<void, std::string> start_console(std::string_view, std::optional<std::string>) override {
    return std::unexpected(std::string("no consoles in this test"));
  }
  std::expected<void, std::string> start_detached(const fs::path&) override {
    return std::unexpected(std::string("no programs in this test"));
  }

 private:
  bool open_ = false;
};

// Reads one JSON text as written by the browser test (JSON.stringify of a string).
std::optional<std::string> json_string(std::string_view text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::nullopt;
  std::string result;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\') {
      result.push_back(c);
      continue;
    }
    if (++i + 1 >= text.size()) return std::nullopt;
    switch (text[i]) {
      case '"': result.push_back('"'); break;
      case '\\': result.push_back('\\'); break;
      case '/': result.push_back('/'); break;
      case 'n': result.push_back('\n'); break;
      case 't': result.push_back('\t'); break;
      case 'r': result.push_back('\r'); break;
      case 'b': result.push_back('\b'); break;
      case 'f': result.push_back('\f'); break;
      case 'u': {
        unsigned code = 0;
        if (i + 4 >= text.size() ||
            std::from_chars(text.data() + i + 1, text.data() + i + 5, code, 16).ptr != text.data() + i + 5) {
          return std::nullopt;
        }
        i += 4;
        // The words of this test are ASCII; other characters pass as UTF-8.
        if (code < 0x80) {
          result.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
          result.push_back(static_cast<char>(0xC0 | (code >> 6)));
          result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
          result.push_back(static_cast<char>(0xE0 | (code >> 12)));
          result.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
          result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
        break;
      }
      default: return std::nullopt;
    }
  }
  return result;
}

int run(const std::string& fake_podman) {
  TestFolder root;
  const fs::path bin = root.path() / "bin";
  const fs::path data = root.path() / "zelk data";
  const fs::path fake = root.path() / "fake runtime";
  fs::create_directories(bin);
  fs::create_directories(fake);
  fs::create_directories(data / "recipes");
  ReadyListener listener(fake_container_runs(fake, "torvo-flow"));  // the app's container holds its port
  std::error_code copied;
  fs::copy_file(path_from_utf8(fake_podman), bin / "podman", copied);
  if (copied) {
    std::fprintf(stderr, "page_bridge: %s\n", copied.message().c_str());
    return 1;
  }
  if (!write_file_atomically(fake / "state.txt",
                             "image\tlocalhost/zelk/flow:1.0\nimage\tlocalhost/zelk/flowdb:1.0\n") ||
      !write_file_atomically(data / "recipes" / "flow.yaml", flow_recipe(listener.port()))) {
    std::fprintf(stderr, "page_bridge: the data folder could not be written\n");
    return 1;
  }
  ::setenv("ZELK_HOME", path_to_utf8(data).c_str(), 1);
  ::setenv("PATH", (path_to_utf8(bin) + ":" + get_env("PATH").value_or("")).c_str(), 1);
  ::setenv("FAKE_PODMAN_DIR", path_to_utf8(fake).c_str(), 1);
  // Nothing answers there, so the look for a newer version fails at once.
  ::setenv("ZELK_UPDATE_ADDRESS", "http://127.0.0.1:9/latest.txt", 1);

  FlowSleeper sleeper;
  FlowThreads threads;
  WindowServices services = real_window_services();
  auto workers = std::make_shared<WorkerServices>(*services.workers);
  workers->sleep = [&sleeper](std::chrono::nanoseconds duration) { sleeper.sleep(duration); };
  workers->open_in_browser = [](const std::string& address) -> std::expected<void, std::string> {
    say("opened " + address);
    return {};
  };
  services.workers = workers;
  services.start_worker = threads.starter();
  services.find_podman_desktop = [] { return std::optional<fs::path>(); };

  std::mutex wake_mutex;
  std::condition_variable woken;
  bool pending = false;
  auto queue = std::make_shared<EventQueue>([&] {
    {
      std::lock_guard lock(wake_mutex);
      pending = true;
    }
    woken.notify_all();
  });

  // The browser's side: lines in, events out.
  std::thread reader([queue] {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (line == "show") {
        queue->send(ShowWindow{});
      } else if (line == "quit") {
        queue->send(MenuClicked{"quit"});
      } else if (line.starts_with("word ")) {
        if (auto word = json_string(std::string_view(line).substr(5))) queue->send(PageMessage{std::move(*word)});
      }
    }
    queue->send(MenuClicked{"quit"});
  });
  reader.detach();

  BridgeShell shell;
  auto loop = make_window_loop(false, shell, queue, std::move(services));
  ControlFlow flow = handle_event(*loop, LoopStarted{});
  say("started");
  while (flow.kind != ControlFlow::Kind::Exit) {
    std::deque<UserEvent> events = queue->take_all();
    if (events.empty()) {
      std::unique_lock lock(wake_mutex);
      if (flow.kind == ControlFlow::Kind::WaitUntil) {
        if (!woken.wait_until(lock, flow.deadline, [&] { return pending; })) {
          lock.unlock();
          flow = handle_event(*loop, WaitDeadlineReached{});
        }
      } else {
        woken.wait(lock, [&] { return pending; });
      }
      pending = false;
      continue;
    }
    for (UserEvent& event : events) {
      flow = handle_event(*loop, std::move(event));
      if (flow.kind == ControlFlow::Kind::Exit) break;
    }
  }
  sleeper.end();
  queue->close();
  threads.join();
  return flow.exit_code;
}

}  // namespace
}  // namespace zelk

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: page_bridge <fake podman program>\n");
    return 2;
  }
  return zelk::run(argv[1]);
}
