#include "tray_win.h"

#include <algorithm>
#include <cwchar>

#include "wide_win.h"
#include "window_texts.h"

namespace zelk {

namespace {

constexpr int tray_icon_size = 32;

void append_items(HMENU menu, const std::vector<MenuItem>& items, std::vector<std::string>& ids) {
  for (const MenuItem& item : items) {
    const UINT greyed = item.enabled ? 0 : MF_GRAYED;
    const std::wstring label = to_wide(menu_label(item.text));
    switch (item.kind) {
      case MenuItem::Kind::Separator:
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        break;
      case MenuItem::Kind::Item:
        ids.push_back(item.id);
        AppendMenuW(menu, MF_STRING | greyed, ids.size(), label.c_str());
        break;
      case MenuItem::Kind::Submenu: {
        HMENU submenu = CreatePopupMenu();
        append_items(submenu, item.items, ids);
        AppendMenuW(menu, MF_POPUP | MF_STRING | greyed, reinterpret_cast<UINT_PTR>(submenu), label.c_str());
        break;
      }
    }
  }
}

}  // namespace

PopupMenu build_popup_menu(const TrayMenu& model) {
  PopupMenu popup;
  popup.menu = CreatePopupMenu();
  append_items(popup.menu, model.items, popup.ids);
  return popup;
}

Tray::Tray(MessageLoop& loop, std::shared_ptr<const LoopProxy> proxy)
    : loop_(loop), proxy_(std::move(proxy)), taskbar_created_(RegisterWindowMessageW(L"TaskbarCreated")) {
  // An elevated program would otherwise not hear the broadcast of a restarted Explorer.
  if (taskbar_created_ != 0) {
    ChangeWindowMessageFilterEx(loop_.hidden_window(), taskbar_created_, MSGFLT_ALLOW, nullptr);
  }
}

Tray::~Tray() { remove(); }

NOTIFYICONDATAW Tray::icon_data() const {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = loop_.hidden_window();
  data.uID = icon_id;
  // With the icon's version 4 the system shows its own tooltip only when asked to.
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
  data.uCallbackMessage = callback_message;
  data.hIcon = icon_.get();
  const std::size_t units = std::min(tooltip_.size(), std::size(data.szTip) - 1);
  std::copy_n(tooltip_.begin(), units, data.szTip);
  data.szTip[units] = L'\0';
  return data;
}

std::expected<void, std::string> Tray::add(std::string_view tooltip, const TrayMenu& menu) {
  if (!icon_) icon_ = mark_icon(tray_icon_size);
  if (!icon_) return std::unexpected(std::string("The tray icon could not be drawn."));
  tooltip_ = tray_tooltip(tooltip);
  menu_ = menu;
  NOTIFYICONDATAW data = icon_data();
  // While Explorer is still starting (a program started at logon) the call can time out;
  // a few more tries give it the time it needs.
  for (int attempt = 0; attempt < 5; ++attempt) {
    SetLastError(ERROR_SUCCESS);
    if (Shell_NotifyIconW(NIM_ADD, &data)) {
      added_ = true;
      set_version();
      return {};
    }
    if (GetLastError() != ERROR_TIMEOUT) break;
    Sleep(500);
  }
  return std::unexpected(std::string("The notification area did not take the icon."));
}

void Tray::set_version() {
  // The version of the icon's messages that tells of the keyboard: Enter (or Space) on the
  // focused icon, and the menu key or Shift+F10 on it.
  NOTIFYICONDATAW data = icon_data();
  data.uVersion = NOTIFYICON_VERSION_4;
  version_4_ = Shell_NotifyIconW(NIM_SETVERSION, &data) != FALSE;
}

void Tray::set_tooltip(std::string_view text) {
  tooltip_ = tray_tooltip(text);
  if (!added_) return;
  NOTIFYICONDATAW data = icon_data();
  data.uFlags = NIF_TIP | NIF_SHOWTIP;
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void Tray::show_balloon(std::string_view text) {
  if (!added_) return;
  NOTIFYICONDATAW data = icon_data();
  data.uFlags = NIF_INFO;
  const std::u16string info = tray_text(text, std::size(data.szInfo) - 1);
  std::copy(info.begin(), info.end(), data.szInfo);
  data.szInfo[info.size()] = L'\0';
  const std::u16string title = tray_text(program_title(), std::size(data.szInfoTitle) - 1);
  std::copy(title.begin(), title.end(), data.szInfoTitle);
  data.szInfoTitle[title.size()] = L'\0';
  data.dwInfoFlags = NIIF_WARNING;
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void Tray::remove() {
  if (!added_) return;
  added_ = false;
  NOTIFYICONDATAW data = icon_data();
  data.uFlags = 0;
  Shell_NotifyIconW(NIM_DELETE, &data);
}

void Tray::send(TrayPointer pointer) {
  for (UserEvent& event : tray_events(pointer)) proxy_->send(std::move(event));
}

ScreenBox Tray::icon_box(POINT at) const {
  RECT box{};
  // Where the icon lies; Shell_NotifyIconGetRect is looked up, as not every system has it.
  using GetRectFunction = HRESULT(WINAPI*)(const NOTIFYICONIDENTIFIER*, RECT*);
  const HMODULE shell32 = GetModuleHandleW(L"shell32.dll");
  void* const found = shell32 == nullptr ? nullptr : reinterpret_cast<void*>(GetProcAddress(shell32,
                                                                                            "Shell_NotifyIconGetRect"));
  const auto get_rect = reinterpret_cast<GetRectFunction>(found);
  NOTIFYICONIDENTIFIER identifier{};
  identifier.cbSize = sizeof identifier;
  identifier.hWnd = loop_.hidden_window();
  identifier.uID = icon_id;
  if (get_rect == nullptr || FAILED(get_rect(&identifier, &box)) || !PtInRect(&box, at)) {
    // Where the system cannot tell (Wine's notification area), the window under the pointer:
    // there the icon has one of its own.
    const HWND under = WindowFromPoint(at);
    if (under == nullptr || !GetWindowRect(under, &box)) box = RECT{at.x, at.y, at.x + 1, at.y + 1};
  }
  return ScreenBox{box.left, box.top, box.right, box.bottom};
}

void Tray::press_on_icon(POINT at) {
  left_click_.pressed(icon_box(at));
  // The notification area tells nothing of a press dragged off the icon and released
  // elsewhere: the pointer is followed until the release or until it leaves the icon.
  SetTimer(loop_.hidden_window(), press_timer, 100, nullptr);
}

std::optional<LRESULT> Tray::on_message(UINT message, WPARAM wparam, LPARAM lparam) {
  if (taskbar_created_ != 0 && message == taskbar_created_) {
    // Explorer started again and forgot every icon.
    if (added_) {
      NOTIFYICONDATAW data = icon_data();
      if (Shell_NotifyIconW(NIM_ADD, &data)) set_version();
    }
    return 0;
  }
  if (message == WM_TIMER && wparam == press_timer) {
    POINT cursor{};
    GetCursorPos(&cursor);
    if (!left_click_.pointer_at(ScreenPoint{cursor.x, cursor.y})) KillTimer(loop_.hidden_window(), press_timer);
    return 0;
  }
  if (message != callback_message) return std::nullopt;
  const UINT event = LOWORD(lparam);
  const WPARAM icon = version_4_ ? HIWORD(lparam) : wparam;
  if (icon != icon_id) return std::nullopt;
  POINT at{};
  if (version_4_) {
    at = POINT{static_cast<short>(LOWORD(wparam)), static_cast<short>(HIWORD(wparam))};
  } else {
    GetCursorPos(&at);
  }
  const auto now = LoopClock::now();
  if (event >= WM_MOUSEFIRST && event <= WM_MOUSELAST && event != WM_MOUSEMOVE) pointer_.touched(now);
  // A press or release of another button ends a left press on the icon.
  if (event >= WM_RBUTTONDOWN && event <= WM_MBUTTONDBLCLK) left_click_.interrupted();
  switch (event) {
    case WM_MOUSEMOVE:
      send(pointer_.moved(now));
      break;
    case WM_LBUTTONDOWN:
      press_on_icon(at);
      send(TrayPointer::LeftDown);
      break;
    case WM_LBUTTONUP:
      KillTimer(loop_.hidden_window(), press_timer);
      send(left_click_.released());
      break;
    case WM_LBUTTONDBLCLK:  // a double click's second press
      press_on_icon(at);
      send(TrayPointer::LeftDouble);
      break;
    case WM_RBUTTONDOWN:
      send(TrayPointer::RightDown);
      break;
    case WM_RBUTTONUP:
      send(TrayPointer::RightUp);
      // With version 4 the notification area asks for the menu next (WM_CONTEXTMENU).
      if (!version_4_) show_menu(at);
      break;
    case WM_RBUTTONDBLCLK:
      send(TrayPointer::RightDouble);
      break;
    case WM_MBUTTONDOWN:
      send(TrayPointer::MiddleDown);
      break;
    case WM_MBUTTONUP:
      send(TrayPointer::MiddleUp);
      break;
    case WM_MBUTTONDBLCLK:
      send(TrayPointer::MiddleDouble);
      break;
    case WM_CONTEXTMENU:  // after a right click, or the menu key or Shift+F10 on the focused icon
      show_menu(at);
      break;
    case NIN_SELECT:  // after a left release, or Enter on the icon chosen with the pointer
      send(left_click_.selected());
      break;
    case NIN_KEYSELECT:  // Enter or Space on the focused icon
      left_click_.interrupted();
      send(TrayPointer::KeySelect);
      break;
    default:
      break;
  }
  return 0;
}

void Tray::show_menu(POINT at) {
  if (menu_open_) return;
  menu_open_ = true;
  // The menu takes the pointer: a left press before it is no part of a click after it.
  left_click_.interrupted();
  // What the click asked for (a refresh) is handled before the menu takes the thread.
  loop_.pump();
  loop_.hold();
  PopupMenu popup = build_popup_menu(menu_);
  const HWND owner = loop_.hidden_window();
  // The menu closes when the user clicks elsewhere only if its owner is the foreground
  // window; the message after it lets the menu's own loop end cleanly.
  SetForegroundWindow(owner);
  const UINT align = GetSystemMetrics(SM_MENUDROPALIGNMENT) != 0 ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
  const UINT flags = TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON | TPM_BOTTOMALIGN | align;
  const BOOL command = TrackPopupMenuEx(popup.menu, flags, at.x, at.y, owner, nullptr);
  PostMessageW(owner, WM_NULL, 0, 0);
  DestroyMenu(popup.menu);
  if (command > 0 && static_cast<std::size_t>(command) <= popup.ids.size()) {
    const std::string& id = popup.ids[static_cast<std::size_t>(command) - 1];
    if (!id.empty()) proxy_->send(MenuClicked{id});
  }
  menu_open_ = false;
  loop_.release();
}

}  // namespace zelk
