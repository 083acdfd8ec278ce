// The program's window with the stand-in web view: its size, least size, title and icons,
// closing and opening again, restoring, the scripts that wait for the web view, and the page's
// messages reaching the loop.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "mark.h"
#include "page_view.h"
#include "window_texts.h"
#include "shell_harness_win.h"
#include "wide_win.h"

namespace zelk {
namespace {

using namespace std::chrono_literals;

int count_windows_of_class(const wchar_t* class_name) {
  struct Search {
    const wchar_t* class_name;
    int count = 0;
  } search{class_name};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* search = reinterpret_cast<Search*>(data);
        wchar_t name[128] = {};
        GetClassNameW(window, name, 128);
        if (std::wstring_view(name) == search->class_name) ++search->count;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.count;
}

// The icon's colour pixels, read back as RGBA rows from the top.
std::vector<std::uint8_t> icon_pixels(HICON icon, int& size) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return {};
  BITMAP bitmap{};
  GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
  size = bitmap.bmWidth;
  BITMAPINFO format{};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = bitmap.bmWidth;
  format.bmiHeader.biHeight = -bitmap.bmHeight;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  const std::size_t pixels = static_cast<std::size_t>(bitmap.bmWidth) * static_cast<std::size_t>(bitmap.bmHeight);
  std::vector<std::uint8_t> bgra(pixels * 4);
  HDC screen = GetDC(nullptr);
  GetDIBits(screen, info.hbmColor, 0, static_cast<UINT>(bitmap.bmHeight), bgra.data(), &format, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  std::vector<std::uint8_t> rgba(bgra.size());
  for (std::size_t pixel = 0; pixel < bgra.size(); pixel += 4) {
    rgba[pixel + 0] = bgra[pixel + 2];
    rgba[pixel + 1] = bgra[pixel + 1];
    rgba[pixel + 2] = bgra[pixel + 0];
    rgba[pixel + 3] = bgra[pixel + 3];
  }
  return rgba;
}

SIZE client_size(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  return SIZE{client.right - client.left, client.bottom - client.top};
}

TEST(AppWindowWin, TheWindowHasItsTitleSizeLeastSizeAndTheMarkAsItsIcons) {
  ShellHarness harness;
  harness.run([&] {
    harness.on_loop([&] { ASSERT_TRUE(harness.shell().open_window().has_value()); });
    HWND window = nullptr;
    harness.on_loop([&] { window = harness.shell().window_handle(); });
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindowVisible(window));

    wchar_t title[128] = {};
    GetWindowTextW(window, title, 128);
    EXPECT_EQ(from_wide_lossy(title), "Valdroven AI Zelk 0.2.0-alpha.15");
    // 1120 x 760 logical units at the display's 96 DPI.
    const SIZE client = client_size(window);
    EXPECT_EQ(client.cx, 1120);
    EXPECT_EQ(client.cy, 760);

    // The least size the window tells the system is that of a 560 x 480 client area.
    RECT least{0, 0, 560, 480};
    AdjustWindowRectEx(&least, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
    MINMAXINFO limits{};
    SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, least.right - least.left);
    EXPECT_EQ(limits.ptMinTrackSize.y, least.bottom - least.top);
    // Made smaller than that, it stays at the least size.
    SetWindowPos(window, nullptr, 0, 0, 200, 150, SWP_NOMOVE | SWP_NOZORDER);
    const SIZE shrunk = client_size(window);
    EXPECT_EQ(shrunk.cx, 560);
    EXPECT_EQ(shrunk.cy, 480);

    // The small icon is the mark at 64 pixels, the big one at 128, pixel for pixel.
    for (const auto& [which, pixels] : {std::pair{ICON_SMALL, 64}, std::pair{ICON_BIG, 128}}) {
      SCOPED_TRACE(pixels);
      const auto icon = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, which, 0));
      ASSERT_NE(icon, nullptr);
      int size = 0;
      const std::vector<std::uint8_t> read = icon_pixels(icon, size);
      EXPECT_EQ(size, pixels);
      EXPECT_TRUE(read == draw_mark(static_cast<std::uint32_t>(pixels)));
    }
  });
}

TEST(AppWindowWin, ScriptsWaitForTheWebViewAndPageMessagesReachTheLoop) {
  ShellHarness harness;
  harness.run([&] {
    HWND window = nullptr;
    harness.on_loop([&] {
      ASSERT_TRUE(harness.shell().open_window().has_value());
      window = harness.shell().window_handle();
      // Asked for before the web view is ready: they wait, in order.
      harness.shell().run_script("render({\"a\":1})");
      harness.shell().run_script("shelves({})");
      EXPECT_TRUE(harness.web().scripts.empty());
    });
    harness.settle();
    harness.on_loop([&] {
      EXPECT_EQ(harness.web().scripts, (std::vector<std::string>{"render({\"a\":1})", "shelves({})"}));
      harness.shell().run_script("outcome({})");
      EXPECT_EQ(harness.web().scripts.back(), "outcome({})");
      EXPECT_EQ(harness.web().pages, (std::vector<std::string>{"<!doctype html><title>page</title>"}));
      // The web view fills the window.
      RECT client{};
      GetClientRect(window, &client);
      EXPECT_EQ(harness.web().last_fit.right, client.right);
      EXPECT_EQ(harness.web().last_fit.bottom, client.bottom);
    });

    const HWND page = FindWindowExW(window, nullptr, fake_web_view_class, nullptr);
    ASSERT_NE(page, nullptr);
    send_page_message(page, "open:gitea");
    send_page_message(page, "");  // an empty message is a message too
    send_page_message(page, "shelf-add:https://example.org/a:b");
    harness.settle();
    EXPECT_EQ(harness.since_last_mark(), (std::vector<std::string>{"PageMessage(open:gitea)", "PageMessage()",
                                                                   "PageMessage(shelf-add:https://example.org/a:b)"}));
  });
}

TEST(AppWindowWin, ClosingDropsWindowAndWebViewAndAskingAgainMakesANewOne) {
  ShellHarness harness;
  harness.run([&] {
    HWND first = nullptr;
    harness.proxy()->send(ShowWindow{});
    harness.settle();
    harness.on_loop([&] {
      first = harness.shell().window_handle();
      harness.shell().run_script("render(1)");
    });
    ASSERT_NE(first, nullptr);
    harness.settle();

    // The user closes it (its close box, Alt+F4): the loop hears of it and the window goes,
    // web view first.
    PostMessageW(first, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_TRUE(harness.wait_for_event("Close"));
    harness.settle();
    EXPECT_FALSE(IsWindow(first));
    harness.on_loop([&] {
      EXPECT_FALSE(harness.shell().window_open());
      EXPECT_EQ(harness.web().closed, 1);
      // Scripts without a window go nowhere.
      harness.shell().run_script("render(2)");
      EXPECT_EQ(harness.web().scripts, (std::vector<std::string>{"render(1)"}));
    });

    harness.proxy()->send(ShowWindow{});
    harness.settle();
    HWND second = nullptr;
    harness.on_loop([&] {
      second = harness.shell().window_handle();
      EXPECT_EQ(harness.web().made, 2);
      EXPECT_EQ(harness.web().pages.size(), 2u);
    });
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(IsWindowVisible(second));
    EXPECT_EQ(count_windows_of_class(L"ValdrovenAIZelkWindow"), 1);
  });
}

TEST(AppWindowWin, AskingForTheOpenWindowRestoresItAndNeverMakesASecond) {
  ShellHarness harness;
  harness.run([&] {
    harness.proxy()->send(ShowWindow{});
    harness.settle();
    HWND window = nullptr;
    harness.on_loop([&] { window = harness.shell().window_handle(); });
    ASSERT_NE(window, nullptr);

    harness.on_loop([&] { ::ShowWindow(window, SW_MINIMIZE); });
    EXPECT_TRUE(IsIconic(window));
    harness.proxy()->send(ShowWindow{});
    harness.proxy()->send(ShowWindow{});
    harness.settle();
    EXPECT_FALSE(IsIconic(window));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(GetForegroundWindow(), window);
    EXPECT_EQ(count_windows_of_class(L"ValdrovenAIZelkWindow"), 1);
    harness.on_loop([&] {
      EXPECT_EQ(harness.web().made, 1);
      EXPECT_EQ(harness.shell().window_handle(), window);
    });
  });
}

TEST(AppWindowWin, AWebViewThatCannotBeMadeLeavesNoWindowAndALaterFailureHidesItAndTellsTheLoopWhy) {
  ShellHarness harness;
  harness.run([&] {
    harness.on_loop([&] {
      harness.web().refuse = "Microsoft Edge WebView2 Runtime is missing. Install it.";
      const auto opened = harness.shell().open_window();
      ASSERT_FALSE(opened.has_value());
      EXPECT_EQ(opened.error(), "Microsoft Edge WebView2 Runtime is missing. Install it.");
      EXPECT_FALSE(harness.shell().window_open());
      EXPECT_EQ(harness.shell().window_handle(), nullptr);
    });
    EXPECT_EQ(count_windows_of_class(L"ValdrovenAIZelkWindow"), 0);

    HWND window = nullptr;
    harness.on_loop([&] {
      harness.web().refuse.reset();
      harness.web().fail_later = "WebView2 did not start (error 0x80004005).";
      ASSERT_TRUE(harness.shell().open_window().has_value());
      window = harness.shell().window_handle();
      harness.shell().run_script("render(1)");
    });
    ASSERT_TRUE(harness.wait_for_event("WebViewFailed(WebView2 did not start (error 0x80004005).)"));
    // Out of sight at once; the loop decides when it goes.
    EXPECT_FALSE(IsWindowVisible(window));
    harness.on_loop([&] {
      EXPECT_EQ(harness.web().closed, 1);
      // The script that waited, and any later one, are dropped: there is no page to run them in.
      harness.shell().run_script("render(2)");
      EXPECT_TRUE(harness.web().scripts.empty());
      harness.shell().close_window();
      EXPECT_FALSE(harness.shell().window_open());
    });
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(count_windows_of_class(L"ValdrovenAIZelkWindow"), 0);
  });
}

TEST(AppWindowWin, WithoutWebView2TheWindowIsNotMadeAndTheStatusLineSaysWhatToInstall) {
  // Wine has neither the loader beside this program nor a WebView2 runtime.
  MessageLoop loop;
  WinShell shell(loop, {.page = "<!doctype html>", .make_web_view = make_webview2});
  const auto opened = shell.open_window();
  ASSERT_FALSE(opened.has_value());
  EXPECT_EQ(opened.error(), "Microsoft Edge WebView2 Runtime is missing. Install it.");
  EXPECT_FALSE(shell.window_open());
  EXPECT_EQ(count_windows_of_class(L"ValdrovenAIZelkWindow"), 0);
  // The whole sentence fits the status line.
  EXPECT_EQ(first_line_short(window_open_failure(opened.error())),
            "The window could not be opened: Microsoft Edge WebView2 Runtime is missing. Install it.");
}

}  // namespace
}  // namespace zelk
