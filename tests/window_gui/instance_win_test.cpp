// The window program as real processes: one instance per session, a second start handing
// over to the running one, the --window switch, the page words that start programs, and
// "quit" while a command still runs. The program is zelk-window's entry, shell and loop with
// a stand-in web view (zelk_window_probe); what it does shows in its windows, its tray icon,
// its exit code and the report its stand-in web view writes.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "child_programs.h"
#include "fake_web_view_win.h"
#include "file_text.h"
#include "platform.h"
#include "probe_runs_win.h"
#include "processes_win.h"
#include "scoped_env.h"
#include "test_folder.h"
#include "tray_win.h"
#include "wide_win.h"

namespace zelk {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(InstanceWin, ASecondStartEndsAtOnceAndTheRunningOneShowsItsWindow) {
  ProbeSetting setting;
  Started first(probe_program(), L"");
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(eventually([&] { return tray_ready(first.pid()); })) << "the first start never showed its tray icon";
  EXPECT_EQ(app_window_of(first.pid()), nullptr);  // without --window only the icon shows

  // The second start's own --window plays no part: it only hands over.
  Started second(probe_program(), L"--window");
  ASSERT_TRUE(second.started());
  EXPECT_EQ(second.exit_code(20s), std::optional<DWORD>(0));
  EXPECT_EQ(loop_window_of(second.pid()), nullptr);
  ASSERT_TRUE(eventually([&] { return app_window_of(first.pid()) != nullptr; })) << "the window did not open";
  EXPECT_TRUE(eventually([&] { return IsWindowVisible(app_window_of(first.pid())) != FALSE; }));
  EXPECT_TRUE(eventually([&] { return has_line(setting.report, "ready"); }));

  // Again, with the window minimised: it comes back, and it stays the only one.
  const HWND window = app_window_of(first.pid());
  PostMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(eventually([&] { return IsIconic(window) != FALSE; }));
  Started third(probe_program(), L"");
  EXPECT_EQ(third.exit_code(20s), std::optional<DWORD>(0));
  EXPECT_TRUE(eventually([&] { return IsIconic(window) == FALSE; }));
  EXPECT_EQ(windows_of(first.pid(), L"ValdrovenAIZelkWindow").size(), 1u);
  EXPECT_EQ(count_lines(setting.report, "made\n"), 1u);
}

TEST(InstanceWin, OnlyTheExactWindowSwitchOpensTheWindowAtTheStart) {
  struct Case {
    std::wstring arguments;
    bool opens;
  };
  const Case cases[] = {{L"--window", true}, {L"--Window", false}, {L"--window=1", false}, {L"x --window", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(from_wide_lossy(c.arguments));
    ProbeSetting setting;
    Started probe(probe_program(), c.arguments);
    ASSERT_TRUE(probe.started());
    ASSERT_TRUE(eventually([&] { return tray_ready(probe.pid()); }));
    if (c.opens) {
      EXPECT_TRUE(eventually([&] { return app_window_of(probe.pid()) != nullptr; }));
      EXPECT_TRUE(eventually([&] { return has_line(setting.report, "made"); }));
    } else {
      // The switch is handled at the start, with the icon; a moment later nothing opened.
      std::this_thread::sleep_for(1500ms);
      EXPECT_EQ(app_window_of(probe.pid()), nullptr);
      EXPECT_FALSE(has_line(setting.report, "made"));
    }
  }
}

TEST(InstanceWin, ASecondStartWhileTheFirstIsStillStartingIsNotLost) {
  ProbeSetting setting;
  TestFolder stall;
  std::optional<ScopedEnv> held;
  held.emplace("ZELK_PROBE_STALL", path_to_utf8(stall.path()));
  Started first(probe_program(), L"");
  held.reset();
  ASSERT_TRUE(first.started());
  // The first holds the instance and has not begun to listen for second starts.
  ASSERT_TRUE(eventually([&] { return fs::exists(stall.path() / "claimed"); }));
  EXPECT_EQ(loop_window_of(first.pid()), nullptr);

  Started second(probe_program(), L"");
  EXPECT_EQ(second.exit_code(20s), std::optional<DWORD>(0));
  // The second start is gone, with its handle of the event; the first goes on only now.
  { std::ofstream(stall.path() / "go") << "go"; }
  EXPECT_TRUE(eventually([&] { return app_window_of(first.pid()) != nullptr; })) << "the signal was lost";
  EXPECT_TRUE(eventually([&] { return has_line(setting.report, "made"); }));
}

TEST(InstanceWin, TheNamesAreExactlyTheseAndTheShowWindowEventResetsItself) {
  ProbeSetting setting;
  TestFolder stall;
  std::optional<ScopedEnv> held;
  held.emplace("ZELK_PROBE_STALL", path_to_utf8(stall.path()));
  Started first(probe_program(), L"");
  held.reset();
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(eventually([&] { return fs::exists(stall.path() / "claimed"); }));

  // Seen from this process, as a second start sees them.
  const HANDLE mutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, L"ValdrovenAIZelkTray");
  ASSERT_NE(mutex, nullptr) << GetLastError();
  const HANDLE event = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, L"ValdrovenAIZelkShowWindow");
  ASSERT_NE(event, nullptr) << GetLastError();
  const HANDLE taken = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, L"ValdrovenAIZelkShowWindowTaken");
  ASSERT_NE(taken, nullptr) << GetLastError();
  // The instance holds the mutex for as long as it is the instance: a start that waits on it
  // learns when the instance lets go of it.
  EXPECT_EQ(WaitForSingleObject(mutex, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  // Not signalled at first; one wait takes a signal, and the event is not signalled again.
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  // The instance listens on that same event: a signal from here opens its window.
  { std::ofstream(stall.path() / "go") << "go"; }
  ASSERT_TRUE(eventually([&] { return tray_ready(first.pid()); }));
  EXPECT_FALSE(has_line(setting.report, "made"));
  EXPECT_EQ(WaitForSingleObject(taken, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(SetEvent(event));
  EXPECT_TRUE(eventually([&] { return has_line(setting.report, "made"); }));
  // The start that signalled is told its signal was taken.
  EXPECT_EQ(WaitForSingleObject(taken, 20000), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(taken);
  CloseHandle(event);
  CloseHandle(mutex);
}

// How a program is closed from outside without being killed.
enum class PoliteClose { CloseEveryWindow, Taskkill, EndOfSession, QuitMessage };

void close_politely(DWORD pid, const std::string& image, PoliteClose how) {
  switch (how) {
    case PoliteClose::CloseEveryWindow:
      for (HWND window : windows_of(pid)) PostMessageW(window, WM_CLOSE, 0, 0);
      break;
    case PoliteClose::Taskkill: {
      // Without /f: taskkill asks each window of the program to close.
      Started taskkill(L"C:\\windows\\system32\\taskkill.exe", L"/im " + to_wide(image));
      ASSERT_TRUE(taskkill.started());
      EXPECT_TRUE(taskkill.exit_code(30s).has_value());
      break;
    }
    case PoliteClose::EndOfSession:
      // The system asks every top-level window first, then tells each that the session ends.
      for (UINT message : {WM_QUERYENDSESSION, WM_ENDSESSION}) {
        for (HWND window : windows_of(pid)) {
          DWORD_PTR answer = 0;
          SendMessageTimeoutW(window, message, message == WM_ENDSESSION ? TRUE : 0, ENDSESSION_CLOSEAPP,
                              SMTO_NORMAL, 30000, &answer);
        }
      }
      break;
    case PoliteClose::QuitMessage:
      PostThreadMessageW(GetWindowThreadProcessId(loop_window_of(pid), nullptr), WM_QUIT, 0, 0);
      break;
  }
}

TEST(InstanceWin, ClosedFromOutsideItEndsAsQuitDoesAndTheNextStartIsTheInstance) {
  struct Case {
    const char* name;
    PoliteClose how;
  };
  const Case cases[] = {{"WM_CLOSE to every window", PoliteClose::CloseEveryWindow},
                        {"taskkill without /f", PoliteClose::Taskkill},
                        {"the end of the session", PoliteClose::EndOfSession},
                        {"WM_QUIT", PoliteClose::QuitMessage}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProbeSetting setting;
    // Under the name the program has, for taskkill to find it.
    const fs::path program = setting.folder.path() / "zelk-window.exe";
    fs::copy_file(probe_program(), program);
    Started probe(program, L"--window");
    ASSERT_TRUE(probe.started());
    ASSERT_TRUE(eventually([&] { return tray_ready(probe.pid()) && has_line(setting.report, "ready"); }));
    const HWND loop = loop_window_of(probe.pid());

    close_politely(probe.pid(), "zelk-window.exe", c.how);
    EXPECT_EQ(probe.exit_code(30s), std::optional<DWORD>(0));
    EXPECT_FALSE(tray_icon_present_of(loop));

    // The names went with it: the next start is the one instance, not a hand-over to a ghost.
    Started next(program, L"");
    ASSERT_TRUE(next.started());
    EXPECT_TRUE(eventually([&] { return tray_ready(next.pid()); })) << "the next start did not stay";
    quit_through_the_menu(next.pid());
    EXPECT_EQ(next.exit_code(30s), std::optional<DWORD>(0));
  }
}

TEST(InstanceWin, AStartWhileTheInstanceEndsIsTheNextInstance) {
  // Taking the icon away alone takes about 2 s under Wine; a start meanwhile (an installer
  // starts the new program as soon as it has closed the old one) must not hand over to it.
  // With the window open, taskkill closes the window and the hidden window one after the other.
  struct Case {
    const char* name;
    bool from_the_menu;
    bool window_open;
  };
  const Case cases[] = {{"Quit from the menu", true, false},
                        {"taskkill without /f", false, false},
                        {"taskkill without /f, the window open", false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProbeSetting setting;
    const fs::path program = setting.folder.path() / "zelk-window.exe";
    fs::copy_file(probe_program(), program);
    Started ending(program, c.window_open ? L"--window" : L"");
    ASSERT_TRUE(ending.started());
    ASSERT_TRUE(eventually([&] { return tray_ready(ending.pid()); }));
    if (c.window_open) {
      ASSERT_TRUE(eventually([&] { return has_line(setting.report, "ready"); }));
    }
    const HWND loop = loop_window_of(ending.pid());

    if (c.from_the_menu) {
      quit_through_the_menu(ending.pid());
      ASSERT_TRUE(eventually([&] {
        const std::vector<HWND> menus = windows_of(ending.pid(), L"#32768");
        return std::none_of(menus.begin(), menus.end(), [](HWND menu) { return IsWindowVisible(menu) != FALSE; });
      })) << "the menu did not close";
    } else {
      close_politely(ending.pid(), "zelk-window.exe", PoliteClose::Taskkill);
    }
    Started next(program, L"");
    ASSERT_TRUE(next.started());
    EXPECT_EQ(ending.exit_code(30s), std::optional<DWORD>(0));
    EXPECT_FALSE(tray_icon_present_of(loop));
    ASSERT_TRUE(eventually([&] { return tray_ready(next.pid()); })) << "the start handed over to the ending one";
    EXPECT_EQ(next.exit_code(0ms), std::nullopt);
    // It is the instance: a further start hands over to it.
    Started further(program, L"");
    EXPECT_EQ(further.exit_code(20s), std::optional<DWORD>(0));
    EXPECT_TRUE(eventually([&] { return app_window_of(next.pid()) != nullptr; }));
    quit_through_the_menu(next.pid());
    EXPECT_EQ(next.exit_code(30s), std::optional<DWORD>(0));
  }
}

TEST(InstanceWin, ASessionEndCalledOffLeavesTheProgramTheInstance) {
  ProbeSetting setting;
  Started probe(probe_program(), L"--window");
  ASSERT_TRUE(probe.started());
  ASSERT_TRUE(eventually([&] { return tray_ready(probe.pid()) && has_line(setting.report, "ready"); }));
  // Asked whether the session may end, the program lets go of its names; then another program
  // refuses, and the system tells every window that the session goes on.
  for (UINT message : {WM_QUERYENDSESSION, WM_ENDSESSION}) {
    for (HWND window : windows_of(probe.pid())) {
      DWORD_PTR answer = 0;
      SendMessageTimeoutW(window, message, FALSE, ENDSESSION_CLOSEAPP, SMTO_NORMAL, 30000, &answer);
    }
  }
  EXPECT_EQ(probe.exit_code(1500ms), std::nullopt);
  // It is still the one instance: a start hands over to it.
  Started next(probe_program(), L"");
  EXPECT_EQ(next.exit_code(20s), std::optional<DWORD>(0));
  quit_through_the_menu(probe.pid());
  EXPECT_EQ(probe.exit_code(30s), std::optional<DWORD>(0));
}

TEST(InstanceWin, TenStartsAtOnceMakeOneInstanceAndEveryOtherIsAnswered) {
  ProbeSetting setting;
  // A start that hands over waits for its answer as long as it takes here: one that is never
  // answered does not end.
  ScopedEnv wait("ZELK_PROBE_HAND_OVER_WAIT", "600000");
  std::vector<std::unique_ptr<Started>> starts;
  for (int count = 0; count < 10; ++count) {
    starts.push_back(std::make_unique<Started>(probe_program(), L""));
    ASSERT_TRUE(starts.back()->started());
  }
  std::optional<std::size_t> instance;
  ASSERT_TRUE(eventually([&] {
    for (std::size_t at = 0; at < starts.size(); ++at) {
      if (tray_ready(starts[at]->pid())) instance = at;
    }
    return instance.has_value();
  })) << "no start became the instance";
  for (std::size_t at = 0; at < starts.size(); ++at) {
    if (at == *instance) continue;
    SCOPED_TRACE("start " + std::to_string(at));
    EXPECT_EQ(starts[at]->exit_code(60s), std::optional<DWORD>(0)) << "a start was not answered";
  }
  EXPECT_TRUE(eventually([&] { return app_window_of(starts[*instance]->pid()) != nullptr; }));
  EXPECT_EQ(starts[*instance]->exit_code(0ms), std::nullopt);
  quit_through_the_menu(starts[*instance]->pid());
  EXPECT_EQ(starts[*instance]->exit_code(30s), std::optional<DWORD>(0));
}

TEST(InstanceWin, PageWordsStartTheSetUpConsoleTheTerminalAndPodmanDesktopAsTheyShould) {
  ProbeSetting setting;
  // The program and a zelk.exe beside it, in a folder of their own.
  const fs::path installed = setting.folder.path() / "Zelk Program";
  fs::create_directories(installed);
  fs::copy_file(probe_program(), installed / "zelk-window.exe");
  fs::copy_file(path_from_utf8(helper_program("console_echo")), installed / "zelk.exe");
  const fs::path console_report = setting.folder.path() / "console.txt";
  ScopedEnv echo("ZELK_CONSOLE_ECHO_REPORT", path_to_utf8(console_report));
  ScopedEnv cmd("ZELK_PROBE_CMD", helper_program("console_echo"));
  const std::string inherited_path = get_env("PATH").value_or("");
  // Podman Desktop, installed for this user.
  const fs::path local = setting.folder.path() / "local";
  const fs::path desktop = local / "Programs" / "Podman Desktop" / "Podman Desktop.exe";
  fs::create_directories(desktop.parent_path());
  fs::copy_file(path_from_utf8(helper_program("console_echo")), desktop);
  ScopedEnv local_app_data("LOCALAPPDATA", path_to_utf8(local));

  Started probe(installed / "zelk-window.exe", L"--window");
  ASSERT_TRUE(probe.started());
  ASSERT_TRUE(eventually([&] { return has_line(setting.report, "ready"); }));
  const HWND page = FindWindowExW(app_window_of(probe.pid()), nullptr, fake_web_view_class, nullptr);
  ASSERT_NE(page, nullptr);

  send_page_message(page, "setup");
  EXPECT_EQ(wait_for_text(console_report),
            "command line: cmd /k \"title Set up Podman - Valdroven AI Zelk & \"" +
                path_to_utf8(installed / "zelk.exe") + "\" setup\"\n" + "PATH=" + inherited_path + "\n" +
                "streams: in=console out=console err=console\nconsole window: yes\n");
  fs::remove(console_report);

  send_page_message(page, "terminal");
  // Podman until a states read named another runtime; its folder is not known here, so the
  // console's PATH is the program's folder and then the PATH as it was.
  EXPECT_EQ(wait_for_text(console_report), "command line: cmd /k \"title podman - Valdroven AI Zelk & podman ps -a\"\n"
                                           "PATH=" + path_to_utf8(installed) + ";" + inherited_path + "\n" +
                                           "streams: in=console out=console err=console\nconsole window: yes\n");
  fs::remove(console_report);

  send_page_message(page, "desktop");
  EXPECT_EQ(wait_for_text(console_report), "command line: \"" + path_to_utf8(desktop) + "\"\n" + "PATH=" +
                                               inherited_path + "\n" +
                                               "streams: in=null out=null err=null\nconsole window: no\n");
}

TEST(InstanceWin, SetUpWithoutZelkNextToTheProgramSaysSoInTheStatusLine) {
  ProbeSetting setting;
  Started probe(probe_program(), L"--window");
  ASSERT_TRUE(probe.started());
  ASSERT_TRUE(eventually([&] { return has_line(setting.report, "ready"); }));
  const HWND page = FindWindowExW(app_window_of(probe.pid()), nullptr, fake_web_view_class, nullptr);
  ASSERT_NE(page, nullptr);
  send_page_message(page, "setup");
  // The page is drawn anew after the word, with the status line in it.
  EXPECT_TRUE(eventually([&] {
    return read_text(setting.report).find("The setup could not be started: zelk.exe is not next to this program.") !=
           std::string::npos;
  })) << read_text(setting.report);
}

TEST(InstanceWin, QuitWhileACommandRunsEndsWithCodeZeroAndTakesTheIconAway) {
  ProbeSetting setting;
  // The container runtime hangs: every podman call sleeps.
  const fs::path runtime = setting.folder.path() / "runtime";
  fs::create_directories(runtime);
  fs::copy_file(path_from_utf8(helper_program("slow_program")), runtime / "podman.exe");
  const fs::path calls = setting.folder.path() / "podman-calls.txt";
  ScopedEnv slow("ZELK_SLOW_PROGRAM_REPORT", path_to_utf8(calls));
  ScopedEnv path("PATH", path_to_utf8(runtime) + ";" + get_env("PATH").value_or(""));

  Started probe(probe_program(), L"--window");
  ASSERT_TRUE(probe.started());
  ASSERT_TRUE(eventually([&] { return tray_ready(probe.pid()); }));
  ASSERT_TRUE(eventually([&] { return has_line(setting.report, "ready"); }));
  const HWND page = FindWindowExW(app_window_of(probe.pid()), nullptr, fake_web_view_class, nullptr);
  ASSERT_NE(page, nullptr);
  // The first refresh and the resume wait on the runtime already; then the command does too.
  ASSERT_TRUE(eventually([&] { return count_lines(calls, "running ") >= 2; })) << read_text(calls);
  std::this_thread::sleep_for(500ms);
  const std::size_t before = count_lines(calls, "running ");
  send_page_message(page, "open:gitea");
  ASSERT_TRUE(eventually([&] { return count_lines(calls, "running ") > before; })) << read_text(calls);
  EXPECT_NE(read_text(setting.report).find("\"status\":\"starting ...\""), std::string::npos);

  const HWND loop = loop_window_of(probe.pid());
  quit_through_the_menu(probe.pid());
  EXPECT_EQ(probe.exit_code(30s), std::optional<DWORD>(0));
  EXPECT_FALSE(process_running(probe.pid()));
  EXPECT_FALSE(tray_icon_present_of(loop));

  // The runtime's stand-ins the workers started are left running by design; end them here.
  const std::string text = read_text(calls);
  for (std::size_t at = text.find("running "); at != std::string::npos; at = text.find("running ", at + 1)) {
    end_process(static_cast<DWORD>(std::stoul(text.substr(at + 8))));
  }
}

TEST(InstanceWin, TheProgramItselfRunsWithoutWebView2AndQuitsFromItsMenu) {
  ProbeSetting setting;
  const fs::path program = path_from_utf8(zelk_program()).parent_path() / "zelk-window.exe";
  Started window_program(program, L"--window");
  ASSERT_TRUE(window_program.started());
  ASSERT_TRUE(eventually([&] { return tray_ready(window_program.pid()); }));
  // Asked for at the start, the window could not be made: the program goes on in the tray.
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(app_window_of(window_program.pid()), nullptr);
  Started second(program, L"");
  EXPECT_EQ(second.exit_code(20s), std::optional<DWORD>(0));
  EXPECT_EQ(window_program.exit_code(1500ms), std::nullopt);
  const HWND loop = loop_window_of(window_program.pid());
  quit_through_the_menu(window_program.pid());
  EXPECT_EQ(window_program.exit_code(30s), std::optional<DWORD>(0));
  EXPECT_FALSE(tray_icon_present_of(loop));
}

// The notification area's balloon with this text, as a tooltip window of Wine's tray shows it.
bool balloon_shows(const std::string& text) {
  struct Search {
    std::wstring text;
    bool found = false;
  } search{to_wide(text)};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* search = reinterpret_cast<Search*>(data);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (std::wstring_view(name) != L"tooltips_class32" || !IsWindowVisible(window)) return TRUE;
        wchar_t shown[512] = {};
        DWORD_PTR length = 0;
        SendMessageTimeoutW(window, WM_GETTEXT, std::size(shown), reinterpret_cast<LPARAM>(shown), SMTO_NORMAL, 5000,
                            &length);
        if (shown == search->text) search->found = true;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

TEST(InstanceWin, ALeftClickThatCannotOpenTheWindowSaysWhyByTheIcon) {
  ProbeSetting setting;
  // The program itself: WebView2 does not run under Wine.
  const fs::path program = path_from_utf8(zelk_program()).parent_path() / "zelk-window.exe";
  Started window_program(program, L"");
  ASSERT_TRUE(window_program.started());
  ASSERT_TRUE(eventually([&] { return tray_ready(window_program.pid()); }));
  const HWND loop = loop_window_of(window_program.pid());
  // A left click, as the notification area passes it on: the press, then the release.
  post_icon_message(loop, WM_LBUTTONDOWN);
  post_icon_message(loop, WM_LBUTTONUP);
  post_icon_message(loop, NIN_SELECT);
  EXPECT_TRUE(eventually([&] {
    return balloon_shows("The window could not be opened: Microsoft Edge WebView2 Runtime is missing. Install it.");
  })) << "no balloon says why";
  EXPECT_EQ(app_window_of(window_program.pid()), nullptr);
  quit_through_the_menu(window_program.pid());
  EXPECT_EQ(window_program.exit_code(30s), std::optional<DWORD>(0));
}

}  // namespace
}  // namespace zelk
