// The window program as the tests start it: the same entry, shell and loop as zelk-window,
// with the stand-in web view in place of WebView2 (which does not run under Wine). What it
// is told by the environment:
//   ZELK_PROBE_REPORT  a file the stand-in web view writes its happenings to, one a line
//                      ("made", "ready", "script <text>", "closed"); the probe adds
//                      "started <process id>" first
//   ZELK_PROBE_STALL   a folder: once the instance is claimed, the probe writes "claimed" into
//                      it and waits (up to a minute) for a file "go" before it goes on
//   ZELK_PROBE_CMD     what the shell starts as "cmd"
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
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
  program.make_handler = zelk::window_loop_handler;
  if (auto stall = zelk::get_env("ZELK_PROBE_STALL")) {
    const std::filesystem::path folder = zelk::path_from_utf8(*stall);
    program.after_instance_claimed = [folder] { stall_until_told(folder); };
  }
  if (auto interpreter = zelk::get_env("ZELK_PROBE_CMD")) {
    program.command_interpreter = zelk::path_from_utf8(*interpreter).wstring();
  }
  return zelk::window_main(program);
}
