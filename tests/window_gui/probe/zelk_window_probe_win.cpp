// The window program as the tests start it: the same entry, shell and loop as zelk-window,
// with the stand-in web view in place of WebView2 (which does not run under Wine). What it
// is told by the environment:
//   ZELK_PROBE_REPORT    a file the stand-in web view writes its happenings to, one a line
//                        ("made", "ready", "script <text>", "closed"); the probe adds
//                        "started <process id>" first, and "word <text>" for each page
//                        message the loop is given (bytes outside printable ASCII, and "\",
//                        as \xNN)
//   ZELK_PROBE_STALL     a folder: once the instance is claimed, the probe writes "claimed"
//                        into it and waits (up to a minute) for a file "go" before it goes on
//   ZELK_PROBE_CMD       what the shell starts as "cmd"
//   ZELK_PROBE_HAND_OVER_WAIT  how many milliseconds a second start waits for the answer
//   ZELK_PROBE_WEB_VIEW  "webview2": the program's own web view on WebView2 in place of the
//                        stand-in (a test lays a stand-in runtime beside the probe)
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "../fake_web_view_win.h"
#include "platform.h"
#include "window_main_win.h"

namespace {

void stall_until_told(const std::filesystem::path& folder) {
  { std::ofstream(folder / "claimed") << GetCurrentProcessId(); }
  const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  std::error_code error;
  while (!std::filesystem::exists(folder / "go", error) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string escaped(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7E || c == '\\') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      shown += escape;
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  auto log = std::make_shared<zelk::FakeWebViewLog>();
  if (auto report = zelk::get_env("ZELK_PROBE_REPORT")) {
    log->report = zelk::path_from_utf8(*report);
    std::ofstream(log->report, std::ios::app) << "started " << GetCurrentProcessId() << '\n';
  }
  zelk::WindowProgram program;
  program.page = "<!doctype html><title>probe page</title>";
  program.make_web_view = zelk::fake_web_view_factory(log);
  if (zelk::get_env("ZELK_PROBE_WEB_VIEW") == "webview2") program.make_web_view = zelk::make_webview2;
  // The loop as the program has it; each page message it is given is written down first.
  program.make_handler = [report = log->report](bool window_flag, zelk::Shell& shell,
                                                std::shared_ptr<const zelk::LoopProxy> proxy) {
    zelk::LoopDispatcher::Handler inner = zelk::window_loop_handler(window_flag, shell, std::move(proxy));
    return zelk::LoopDispatcher::Handler([inner, report](zelk::LoopEvent event) {
      if (const auto* user = std::get_if<zelk::UserEvent>(&event); user != nullptr && !report.empty()) {
        if (const auto* message = std::get_if<zelk::PageMessage>(user)) {
          std::ofstream(report, std::ios::app | std::ios::binary) << "word " << escaped(message->text) << '\n';
        }
      }
      return inner(std::move(event));
    });
  };
  if (auto stall = zelk::get_env("ZELK_PROBE_STALL")) {
    const std::filesystem::path folder = zelk::path_from_utf8(*stall);
    program.after_instance_claimed = [folder] { stall_until_told(folder); };
  }
  if (auto interpreter = zelk::get_env("ZELK_PROBE_CMD")) {
    program.command_interpreter = zelk::path_from_utf8(*interpreter).wstring();
  }
  if (auto wait = zelk::get_env("ZELK_PROBE_HAND_OVER_WAIT")) {
    program.hand_over_wait_ms = static_cast<DWORD>(std::stoul(*wait));
  }
  return zelk::window_main(program);
}
