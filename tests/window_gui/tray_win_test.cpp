// The tray icon and its menu under a real notification area (Wine's, on a virtual display):
// the pointer messages the icon sends to the loop's hidden window, the icon's life, and the
// menu the model turns into.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "probe_runs_win.h"
#include "shell_harness_win.h"
#include "tray_win.h"
#include "wide_win.h"

namespace zelk {
namespace {

using namespace std::chrono_literals;
using Names = std::vector<std::string>;

TrayMenu sample_menu() {
  TrayMenu menu;
  menu.items = {
      {MenuItem::Kind::Item, "", "Valdroven AI Zelk 0.2.0-alpha.15", false, {}},
      {MenuItem::Kind::Item, "window", "Open the Zelk", true, {}},
      {MenuItem::Kind::Separator, "", "", true, {}},
      {MenuItem::Kind::Submenu, "", "Tom & Jerry  -  running", true,
       {
           {MenuItem::Kind::Item, "open:tom", "Open", true, {}},
           {MenuItem::Kind::Item, "stop:tom", "Stop", false, {}},
           {MenuItem::Kind::Separator, "", "", true, {}},
           {MenuItem::Kind::Item, "", "http://127.0.0.1:5678/", false, {}},
       }},
      {MenuItem::Kind::Separator, "", "", true, {}},
      {MenuItem::Kind::Item, "", "Podman is running", false, {}},
      {MenuItem::Kind::Item, "refresh", "Refresh", true, {}},
      {MenuItem::Kind::Item, "quit", "Quit (apps keep running)", true, {}},
  };
  return menu;
}

// One menu entry as read back from the system's menu.
struct ReadItem {
  std::string text;
  bool separator = false;
  bool greyed = false;
  bool submenu = false;
  UINT command = 0;
};

std::vector<ReadItem> read_menu(HMENU menu) {
  std::vector<ReadItem> items;
  const int count = GetMenuItemCount(menu);
  for (int index = 0; index < count; ++index) {
    ReadItem item;
    wchar_t text[256] = {};
    GetMenuStringW(menu, static_cast<UINT>(index), text, 256, MF_BYPOSITION);
    item.text = from_wide_lossy(text);
    const UINT state = GetMenuState(menu, static_cast<UINT>(index), MF_BYPOSITION);
    item.separator = (state & MF_SEPARATOR) != 0;
    item.greyed = (state & MF_GRAYED) != 0;
    item.submenu = GetSubMenu(menu, index) != nullptr;
    item.command = item.submenu ? 0 : GetMenuItemID(menu, index);
    items.push_back(item);
  }
  return items;
}

std::string id_of(const PopupMenu& popup, UINT command) {
  if (command == 0 || command > popup.ids.size()) return "<none>";
  return popup.ids[command - 1];
}

TEST(TrayWin, EachPointerMessageOfTheIconSendsTheEventsOfTheTable) {
  ShellHarness harness;
  const HWND hidden = harness.loop().hidden_window();
  auto pointer = [&](LPARAM message, WPARAM icon = Tray::icon_id) {
    SendMessageW(hidden, Tray::callback_message, icon, message);
    harness.settle();
    return harness.since_last_mark();
  };
  harness.run([&] {
    harness.settle();
    EXPECT_EQ(pointer(WM_LBUTTONDOWN), (Names{"RefreshTick"}));
    EXPECT_EQ(pointer(WM_LBUTTONUP), (Names{"ShowWindow", "RefreshTick"}));
    EXPECT_EQ(pointer(WM_LBUTTONDBLCLK), Names{});
    EXPECT_EQ(pointer(WM_RBUTTONDOWN), (Names{"RefreshTick"}));
    EXPECT_EQ(pointer(WM_RBUTTONDBLCLK), Names{});
    EXPECT_EQ(pointer(WM_MBUTTONDOWN), (Names{"RefreshTick"}));
    EXPECT_EQ(pointer(WM_MBUTTONUP), (Names{"RefreshTick"}));
    EXPECT_EQ(pointer(WM_MBUTTONDBLCLK), Names{});
    // Moves right after a click are moves over the icon, not its arrival.
    EXPECT_EQ(pointer(WM_MOUSEMOVE), Names{});
    std::this_thread::sleep_for(PointerOverIcon::quiet + 100ms);
    EXPECT_EQ(pointer(WM_MOUSEMOVE), (Names{"RefreshTick"}));
    EXPECT_EQ(pointer(WM_MOUSEMOVE), Names{});
    // Another icon's messages, and other messages of this icon, send nothing.
    EXPECT_EQ(pointer(WM_LBUTTONUP, Tray::icon_id + 1), Names{});
    EXPECT_EQ(pointer(WM_KEYDOWN), Names{});
  });
  // The left click opened the window through the loop.
  EXPECT_EQ(harness.web().made, 1);
}

TEST(TrayWin, TheIconIsAddedChangedPutBackAfterATaskbarRestartAndRemoved) {
  ShellHarness harness;
  const HWND hidden = harness.loop().hidden_window();
  harness.run([&] {
    EXPECT_FALSE(tray_icon_present(hidden, Tray::icon_id));
    std::expected<void, std::string> added;
    harness.on_loop([&] { added = harness.shell().add_tray_icon("Valdroven AI Zelk 0.2.0-alpha.15", sample_menu()); });
    ASSERT_TRUE(added.has_value()) << added.error();
    EXPECT_TRUE(tray_icon_present(hidden, Tray::icon_id));

    harness.on_loop([&] {
      harness.shell().set_tooltip("Valdroven AI Zelk 0.2.0-alpha.15: Gitea running");
      harness.shell().set_tray_menu(TrayMenu{});
    });
    EXPECT_TRUE(tray_icon_present(hidden, Tray::icon_id));

    // Explorer restarting forgets every icon and tells every top-level window.
    NOTIFYICONDATAW gone{};
    gone.cbSize = sizeof gone;
    gone.hWnd = hidden;
    gone.uID = Tray::icon_id;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &gone));
    EXPECT_FALSE(tray_icon_present(hidden, Tray::icon_id));
    SendMessageW(hidden, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(tray_icon_present(hidden, Tray::icon_id));

    harness.on_loop([&] { harness.shell().remove_tray_icon(); });
    EXPECT_FALSE(tray_icon_present(hidden, Tray::icon_id));
    // Once removed, a taskbar restart does not bring it back.
    SendMessageW(hidden, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_FALSE(tray_icon_present(hidden, Tray::icon_id));
  });
}

TEST(TrayWin, TheMenuHoldsTheModelsItemsTextsAndGreyedStatesAndEachCommandItsId) {
  const TrayMenu model = sample_menu();
  PopupMenu popup = build_popup_menu(model);
  ASSERT_NE(popup.menu, nullptr);
  const std::vector<ReadItem> top = read_menu(popup.menu);
  ASSERT_EQ(top.size(), 8u);
  // An "&" is stored doubled, which the system shows as one "&" and no underlined letter.
  const std::vector<std::tuple<std::string, bool, bool, bool>> expected = {
      {"Valdroven AI Zelk 0.2.0-alpha.15", false, true, false},
      {"Open the Zelk", false, false, false},
      {"", true, false, false},
      {"Tom && Jerry  -  running", false, false, true},
      {"", true, false, false},
      {"Podman is running", false, true, false},
      {"Refresh", false, false, false},
      {"Quit (apps keep running)", false, false, false},
  };
  for (std::size_t index = 0; index < top.size(); ++index) {
    SCOPED_TRACE(index);
    const auto& [text, separator, greyed, submenu] = expected[index];
    EXPECT_EQ(top[index].text, text);
    EXPECT_EQ(top[index].separator, separator);
    if (!separator) {
      EXPECT_EQ(top[index].greyed, greyed);  // a separator's own state is the system's
    }
    EXPECT_EQ(top[index].submenu, submenu);
  }
  EXPECT_EQ(id_of(popup, top[0].command), "");
  EXPECT_EQ(id_of(popup, top[1].command), "window");
  EXPECT_EQ(id_of(popup, top[5].command), "");
  EXPECT_EQ(id_of(popup, top[6].command), "refresh");
  EXPECT_EQ(id_of(popup, top[7].command), "quit");

  const std::vector<ReadItem> app = read_menu(GetSubMenu(popup.menu, 3));
  ASSERT_EQ(app.size(), 4u);
  EXPECT_EQ(app[0].text, "Open");
  EXPECT_FALSE(app[0].greyed);
  EXPECT_EQ(id_of(popup, app[0].command), "open:tom");
  EXPECT_EQ(app[1].text, "Stop");
  EXPECT_TRUE(app[1].greyed);
  EXPECT_EQ(id_of(popup, app[1].command), "stop:tom");
  EXPECT_TRUE(app[2].separator);
  EXPECT_EQ(app[3].text, "http://127.0.0.1:5678/");
  EXPECT_TRUE(app[3].greyed);
  // Every command number belongs to exactly one item.
  std::vector<UINT> commands;
  for (const auto* items : {&top, &app}) {
    for (const ReadItem& item : *items) {
      if (!item.separator && !item.submenu) commands.push_back(item.command);
    }
  }
  std::sort(commands.begin(), commands.end());
  EXPECT_EQ(std::adjacent_find(commands.begin(), commands.end()), commands.end());
  EXPECT_EQ(commands.size(), popup.ids.size());
  DestroyMenu(popup.menu);
}

HWND open_popup_menu_window() {
  for (int tries = 0; tries < 400; ++tries) {
    HWND menu = FindWindowW(L"#32768", nullptr);
    if (menu != nullptr && IsWindowVisible(menu)) return menu;
    std::this_thread::sleep_for(25ms);
  }
  return nullptr;
}

TEST(TrayWin, ARightClickShowsTheMenuAndWorkersEventsWaitForItToClose) {
  ShellHarness harness;
  const HWND hidden = harness.loop().hidden_window();
  constexpr int worker_events = 20000;
  harness.run([&] {
    std::expected<void, std::string> added;
    harness.on_loop([&] { added = harness.shell().add_tray_icon("Valdroven AI Zelk 0.2.0-alpha.15", sample_menu()); });
    ASSERT_TRUE(added.has_value()) << added.error();
    harness.settle();

    post_icon_message(hidden, WM_RBUTTONUP);
    post_icon_message(hidden, WM_CONTEXTMENU);
    const HWND menu_window = open_popup_menu_window();
    ASSERT_NE(menu_window, nullptr) << "the menu did not open";
    // The click's refresh was handled before the menu took the thread.
    EXPECT_TRUE(harness.wait_for_event("RefreshTick", 5s));

    // The menu as shown, read back from its window.
    const auto shown = reinterpret_cast<HMENU>(SendMessageW(menu_window, MN_GETHMENU, 0, 0));
    ASSERT_NE(shown, nullptr);
    const std::vector<ReadItem> items = read_menu(shown);
    ASSERT_EQ(items.size(), 8u);
    EXPECT_EQ(items[1].text, "Open the Zelk");
    EXPECT_EQ(items[3].text, "Tom && Jerry  -  running");
    EXPECT_TRUE(items[5].greyed);

    // A worker sends a flood of events while the menu is open: none is handled yet.
    const std::size_t before = harness.seen().size();
    std::thread worker([&] {
      for (int index = 0; index < worker_events; ++index) {
        harness.proxy()->send(PageMessage{"line " + std::to_string(index)});
      }
    });
    worker.join();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(harness.seen().size(), before);

    // Choosing "Open the Zelk" with the keyboard: the title is greyed, so one step down from
    // no selection lands on it... or on the title first, as some systems select greyed items.
    PostMessageW(menu_window, WM_KEYDOWN, VK_DOWN, 0);
    std::this_thread::sleep_for(100ms);
    HMENU still = reinterpret_cast<HMENU>(SendMessageW(menu_window, MN_GETHMENU, 0, 0));
    if (still != nullptr && (GetMenuState(still, 0, MF_BYPOSITION) & MF_HILITE) != 0) {
      PostMessageW(menu_window, WM_KEYDOWN, VK_DOWN, 0);
      std::this_thread::sleep_for(100ms);
    }
    PostMessageW(menu_window, WM_KEYDOWN, VK_RETURN, 0);

    ASSERT_TRUE(harness.wait_for_event("MenuClicked(window)", 20s));
    const std::vector<std::string> seen = harness.seen();
    // Every worker event arrived, in order, and the click after them.
    std::vector<std::string> after(seen.begin() + static_cast<std::ptrdiff_t>(before), seen.end());
    ASSERT_EQ(after.size(), static_cast<std::size_t>(worker_events) + 1);
    for (int index = 0; index < worker_events; ++index) {
      ASSERT_EQ(after[static_cast<std::size_t>(index)], "PageMessage(line " + std::to_string(index) + ")");
    }
    EXPECT_EQ(after.back(), "MenuClicked(window)");
  });
}

// The tray icon as the notification area draws it: under Wine on a display without a tray of
// its own, a window of Wine's stand-alone tray. Null unless there is exactly one.
HWND drawn_tray_icon() {
  const HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
  if (tray == nullptr) return nullptr;
  const HWND icon = FindWindowExW(tray, nullptr, L"__winex11_tray_icon", nullptr);
  if (icon == nullptr || FindWindowExW(tray, icon, L"__winex11_tray_icon", nullptr) != nullptr) return nullptr;
  return icon;
}

// A real press and release of a pointer button at a point of the screen.
void click_at(POINT at, DWORD press, DWORD release) {
  SetCursorPos(at.x, at.y);
  std::this_thread::sleep_for(100ms);
  for (DWORD flags : {press, release}) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof input);
    std::this_thread::sleep_for(100ms);
  }
}

TEST(TrayWin, AClickBesideTheOpenMenuClosesItAndOpensNoWindowWhileAClickOnTheIconDoes) {
  ShellHarness harness;
  harness.run([&] {
    std::expected<void, std::string> added;
    harness.on_loop([&] { added = harness.shell().add_tray_icon("Valdroven AI Zelk 0.2.0-alpha.15", sample_menu()); });
    ASSERT_TRUE(added.has_value()) << added.error();
    HWND icon = nullptr;
    ASSERT_TRUE(eventually([&] { return (icon = drawn_tray_icon()) != nullptr; })) << "no icon drawn";
    RECT box{};
    GetWindowRect(icon, &box);
    const POINT on_icon{(box.left + box.right) / 2, (box.top + box.bottom) / 2};

    click_at(on_icon, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
    ASSERT_NE(open_popup_menu_window(), nullptr) << "the menu did not open";
    // A click elsewhere closes the menu; Wine's tray then passes the release on to the icon.
    click_at(POINT{box.right + 400, box.bottom + 400}, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(eventually([] {
      const HWND menu = FindWindowW(L"#32768", nullptr);
      return menu == nullptr || IsWindowVisible(menu) == FALSE;
    }));

    // Then a click on the icon: its press and release open the window, and only they do.
    click_at(on_icon, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(harness.wait_for_event("ShowWindow", 20s));
    // The icon's messages come in order, and the menu opens only once those before it are
    // handled: with the menu open again, every message of the clicks before has been.
    click_at(on_icon, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
    const HWND menu = open_popup_menu_window();
    ASSERT_NE(menu, nullptr) << "the menu did not open again";
    const std::vector<std::string> seen = harness.seen();
    PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "ShowWindow"), 1) << ::testing::PrintToString(seen);
  }, [](const LoopEvent&, WinShell&) { return ControlFlow::wait(); });  // no window to cover the icon
}

// A real move of the pointer, in steps, to a point of the screen.
void move_to(POINT to) {
  POINT from{};
  GetCursorPos(&from);
  const int width = GetSystemMetrics(SM_CXSCREEN) - 1;
  const int height = GetSystemMetrics(SM_CYSCREEN) - 1;
  for (int step = 1; step <= 5; ++step) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    input.mi.dx = (from.x + (to.x - from.x) * step / 5) * 65535 / width;
    input.mi.dy = (from.y + (to.y - from.y) * step / 5) * 65535 / height;
    SendInput(1, &input, sizeof input);
    std::this_thread::sleep_for(60ms);
  }
}

void press_button(DWORD flags) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = flags;
  SendInput(1, &input, sizeof input);
  std::this_thread::sleep_for(200ms);
}

TEST(TrayWin, APressDraggedOffTheIconAndReleasedElsewhereIsNoPartOfALaterReleaseOnIt) {
  ShellHarness harness;
  harness.run([&] {
    std::expected<void, std::string> added;
    harness.on_loop([&] { added = harness.shell().add_tray_icon("Valdroven AI Zelk 0.2.0-alpha.15", sample_menu()); });
    ASSERT_TRUE(added.has_value()) << added.error();
    HWND icon = nullptr;
    ASSERT_TRUE(eventually([&] { return (icon = drawn_tray_icon()) != nullptr; })) << "no icon drawn";
    RECT box{};
    GetWindowRect(icon, &box);
    const POINT on_icon{(box.left + box.right) / 2, (box.top + box.bottom) / 2};

    // Pressed on the icon, dragged off it and released far away.
    move_to(on_icon);
    press_button(MOUSEEVENTF_LEFTDOWN);
    move_to(POINT{box.right + 300, box.bottom + 300});
    press_button(MOUSEEVENTF_LEFTUP);
    // Then pressed elsewhere, dragged onto the icon and released there: no click on it.
    move_to(POINT{box.right + 200, box.bottom + 350});
    press_button(MOUSEEVENTF_LEFTDOWN);
    move_to(on_icon);
    press_button(MOUSEEVENTF_LEFTUP);
    // A right click after them: with its menu open, every message before it has been handled.
    click_at(on_icon, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
    HWND menu = open_popup_menu_window();
    ASSERT_NE(menu, nullptr) << "the menu did not open";
    const std::vector<std::string> seen = harness.seen();
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "ShowWindow"), 0) << ::testing::PrintToString(seen);
    PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(eventually([] {
      const HWND shown = FindWindowW(L"#32768", nullptr);
      return shown == nullptr || IsWindowVisible(shown) == FALSE;
    }));

    // A click on the icon still opens the window.
    click_at(on_icon, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
    EXPECT_TRUE(harness.wait_for_event("ShowWindow", 20s));
  }, [](const LoopEvent&, WinShell&) { return ControlFlow::wait(); });  // no window to cover the icon
}

TEST(TrayWin, TheKeyboardOnTheFocusedIconOpensTheWindowWithEnterAndTheMenuWithTheMenuKey) {
  ShellHarness harness;
  const HWND hidden = harness.loop().hidden_window();
  harness.run([&] {
    std::expected<void, std::string> added;
    harness.on_loop([&] { added = harness.shell().add_tray_icon("Valdroven AI Zelk 0.2.0-alpha.15", sample_menu()); });
    ASSERT_TRUE(added.has_value()) << added.error();
    harness.settle();
    // As the notification area tells of the keys on an icon of version 4.
    post_icon_message(hidden, NIN_KEYSELECT);
    harness.settle();
    EXPECT_EQ(harness.since_last_mark(), (Names{"ShowWindow", "RefreshTick"}));
    post_icon_message(hidden, WM_CONTEXTMENU);
    const HWND menu = open_popup_menu_window();
    ASSERT_NE(menu, nullptr) << "the menu did not open";
    PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
  }, [](const LoopEvent&, WinShell&) { return ControlFlow::wait(); });
}

}  // namespace
}  // namespace zelk
