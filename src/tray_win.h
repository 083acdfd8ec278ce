#pragma once
/// The tray icon and its menu on Win32: Shell_NotifyIconW with the mark at 32 pixels, the
/// pointer messages turned into loop events, the menu popped up on a right click (or the menu
/// key), and the icon put back when Explorer restarts. Windows builds only.
#include <windows.h>
#include <shellapi.h>

#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "icon_win.h"
#include "loop_seams.h"
#include "message_loop_win.h"
#include "tray_input.h"

namespace zelk {

/// A popup menu made from the menu model, with the id text of each command: command number
/// n (counted from 1) sends ids[n - 1]; an empty id sends nothing.
struct PopupMenu {
  HMENU menu = nullptr;
  std::vector<std::string> ids;
};

/// Builds the popup menu: items, separators and submenus in order, texts shown literally,
/// disabled items greyed. The caller destroys the menu.
PopupMenu build_popup_menu(const TrayMenu& model);

class Tray {
 public:
  /// The message the icon's pointer messages come back as, to the loop's hidden window.
  static constexpr UINT callback_message = WM_APP + 2;
  static constexpr UINT icon_id = 1;
  /// The hidden window's timer that follows the pointer while a left press on the icon is held.
  static constexpr UINT_PTR press_timer = 2;

  Tray(MessageLoop& loop, std::shared_ptr<const LoopProxy> proxy);
  ~Tray();
  Tray(const Tray&) = delete;
  Tray& operator=(const Tray&) = delete;

  std::expected<void, std::string> add(std::string_view tooltip, const TrayMenu& menu);
  void set_menu(const TrayMenu& menu) { menu_ = menu; }
  void set_tooltip(std::string_view text);
  /// A balloon by the icon with the program's title and the text (cut to what it holds).
  void show_balloon(std::string_view text);
  /// Takes the icon out of the notification area (the program is ending).
  void remove();

  /// The hidden window's messages that concern the tray; none for all others.
  std::optional<LRESULT> on_message(UINT message, WPARAM wparam, LPARAM lparam);

 private:
  NOTIFYICONDATAW icon_data() const;
  void set_version();
  void send(TrayPointer pointer);
  void show_menu(POINT at);
  void press_on_icon(POINT at);
  ScreenBox icon_box(POINT at) const;

  MessageLoop& loop_;
  std::shared_ptr<const LoopProxy> proxy_;
  UINT taskbar_created_ = 0;
  IconHandle icon_;
  std::u16string tooltip_;
  TrayMenu menu_;
  PointerOverIcon pointer_;
  LeftClickOnIcon left_click_;
  bool added_ = false;
  bool menu_open_ = false;
  /// The notification area took the icon's version 4: its messages carry the event and the
  /// icon in lparam and a place in wparam, it tells of the keyboard's choices, and it asks for
  /// the menu itself (WM_CONTEXTMENU) after a right click.
  bool version_4_ = false;
};

}  // namespace zelk
