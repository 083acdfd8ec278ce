// The program's own web view on WebView2, driven from a real window program under Wine: no
// WebView2 runs here, so a stand-in runtime (fake_webview2, built as WebView2Loader.dll) lies
// beside a copy of the probe, which takes it for the loader. The stand-in writes what it is
// asked to do into the report, beside the probe's own lines: when the page's load completes,
// which scripts run, and every page message the loop is given.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "child_programs.h"
#include "fake_web_view_win.h"
#include "file_text.h"
#include "platform.h"
#include "probe_runs_win.h"
#include "scoped_env.h"
#include "wide_win.h"

namespace zelk {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr wchar_t stand_in_page_class[] = L"ZelkFakeWebView2";

// A probe on WebView2 with the stand-in runtime beside it, and a data folder of its own.
struct WebView2Setting {
  ProbeSetting probe;
  fs::path program = probe.folder.path() / "Zelk" / "zelk-window.exe";
  fs::path local = probe.folder.path() / "local";
  ScopedEnv web_view{"ZELK_PROBE_WEB_VIEW", "webview2"};
  ScopedEnv runtime_report{"ZELK_FAKE_WEBVIEW2_REPORT", path_to_utf8(probe.report)};
  ScopedEnv local_app_data{"LOCALAPPDATA", path_to_utf8(local)};

  WebView2Setting() {
    fs::create_directories(program.parent_path());
    fs::copy_file(probe_program(), program);
    fs::copy_file(path_from_utf8(helper_folder()) / "fake-webview2" / "WebView2Loader.dll",
                  program.parent_path() / "WebView2Loader.dll");
  }
};

std::vector<std::string> report_lines(const fs::path& report) {
  std::vector<std::string> lines;
  const std::string text = read_text(report);
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Where the first line beginning with the text is; none when there is none.
std::optional<std::size_t> first_line(const std::vector<std::string>& lines, const std::string& start) {
  for (std::size_t index = 0; index < lines.size(); ++index) {
    if (lines[index].starts_with(start)) return index;
  }
  return std::nullopt;
}

TEST(WebView2Win, ScriptsReachThePageOnlyOnceItsLoadHasCompleted) {
  WebView2Setting setting;
  Started probe(setting.program, L"--window");
  ASSERT_TRUE(probe.started());
  // The window is asked for at the start and the page drawn at once; that script waits.
  ASSERT_TRUE(eventually([&] { return count_lines(setting.probe.report, "script render(") > 0; }))
      << read_text(setting.probe.report);
  const std::vector<std::string> lines = report_lines(setting.probe.report);
  EXPECT_EQ(first_line(lines, "environment "),
            first_line(lines, "environment " + path_to_utf8(setting.local / "Valdroven AI Zelk" / "window")));
  const auto navigate = first_line(lines, "navigate");
  const auto loaded = first_line(lines, "loaded");
  const auto script = first_line(lines, "script ");
  ASSERT_TRUE(navigate && loaded && script) << read_text(setting.probe.report);
  EXPECT_LT(*navigate, *loaded);
  EXPECT_LT(*loaded, *script) << "a script was run before the page had loaded";
}

TEST(WebView2Win, APageMessageHoldingANulReachesTheLoopWhole) {
  WebView2Setting setting;
  Started probe(setting.program, L"--window");
  ASSERT_TRUE(probe.started());
  ASSERT_TRUE(eventually([&] { return count_lines(setting.probe.report, "script render(") > 0; }));
  const HWND page = FindWindowExW(app_window_of(probe.pid()), nullptr, stand_in_page_class, nullptr);
  ASSERT_NE(page, nullptr);
  // A recipe file with a NUL byte in it, as the page posts it for a preview.
  constexpr char word[] = "preview:name: a\0b\nafter the NUL\n";
  send_page_message(page, std::string(word, sizeof word - 1));
  send_page_message(page, "refresh");
  ASSERT_TRUE(eventually([&] { return has_line(setting.probe.report, "word refresh"); }))
      << read_text(setting.probe.report);
  EXPECT_TRUE(has_line(setting.probe.report, "word preview:name: a\\x00b\\x0Aafter the NUL\\x0A"))
      << read_text(setting.probe.report);
}

TEST(WebView2Win, AWebViewThatFailsAfterTheWindowWasMadeLeavesNoWindowAndTheNextAskTriesAgain) {
  struct Case {
    const char* step;
    const char* last_line;  // the stand-in's last word on the failed web view
  };
  const Case cases[] = {{"environment", "environment "}, {"controller", "environment "}, {"load", "closed"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    WebView2Setting setting;
    ScopedEnv fail("ZELK_FAKE_WEBVIEW2_FAIL", c.step);
    Started probe(setting.program, L"--window");
    ASSERT_TRUE(probe.started());
    ASSERT_TRUE(eventually([&] { return count_lines(setting.probe.report, c.last_line) == 1; }))
        << read_text(setting.probe.report);
    // The window was made; with its web view dead, it goes.
    ASSERT_TRUE(eventually([&] { return tray_ready(probe.pid()) && app_window_of(probe.pid()) == nullptr; }))
        << "the dead window stayed";
    EXPECT_EQ(count_lines(setting.probe.report, "script "), 0u);

    // Asked again, the program starts over: a new window and a new web view.
    Started second(setting.program, L"");
    EXPECT_EQ(second.exit_code(20s), std::optional<DWORD>(0));
    EXPECT_TRUE(eventually([&] { return count_lines(setting.probe.report, "environment ") == 2; }))
        << read_text(setting.probe.report);
    EXPECT_TRUE(eventually([&] { return count_lines(setting.probe.report, c.last_line) == 2; }));
    EXPECT_TRUE(eventually([&] { return app_window_of(probe.pid()) == nullptr; }));
  }
}

TEST(WebView2Win, WithoutLocalAppDataTheWebViewIsMadeWithoutADataFolderOfItsOwn) {
  WebView2Setting setting;
  ScopedEnv unset("LOCALAPPDATA", std::nullopt);
  Started probe(setting.program, L"--window");
  ASSERT_TRUE(probe.started());
  ASSERT_TRUE(eventually([&] { return count_lines(setting.probe.report, "script render(") > 0; }))
      << read_text(setting.probe.report);
  EXPECT_TRUE(has_line(setting.probe.report, "environment (none)")) << read_text(setting.probe.report);
}

}  // namespace
}  // namespace zelk
