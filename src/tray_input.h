#pragma once
/// What the tray icon's pointer messages mean to the loop, and the texts the notification area
/// and the tray menu are given. Plain rules, so they are the same on every system.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "window_events.h"

namespace zelk {

/// What the pointer did over the tray icon.
enum class TrayPointer {
  LeftDown,
  LeftUp,
  LeftUpAlone,  ///< a left release with no press on the icon before it
  LeftDouble,
  RightDown,
  RightUp,
  RightDouble,
  MiddleDown,
  MiddleUp,
  MiddleDouble,
  Enter,  ///< the pointer came over the icon
  Move,   ///< the pointer moved while it was over the icon already
  Leave,
  KeySelect,  ///< the keyboard chose the focused icon (Enter or Space)
  Select,     ///< the notification area's choice that follows a left release on the icon
};

/// The events a pointer action sends, in order: a left button's release after its press on
/// the icon shows the window and asks for a refresh; any other press or release, and the
/// pointer coming over the icon, ask for a refresh; a double click, a move and leaving send
/// nothing (a double click's own presses and releases already did). The keyboard's choice of
/// the icon is a click; the choice that follows a release sends nothing (the release did).
std::vector<UserEvent> tray_events(TrayPointer pointer);

/// The notification area reports every move of the pointer over the icon and never that it
/// left. A move is taken as the pointer coming over the icon when no pointer message came from
/// the icon for `quiet` before it; the moves that follow are plain moves.
class PointerOverIcon {
 public:
  static constexpr std::chrono::milliseconds quiet{1000};

  /// A move of the pointer over the icon: Enter or Move.
  TrayPointer moved(LoopClock::time_point now);
  /// Any other pointer message from the icon (a press, a release): the pointer is there.
  void touched(LoopClock::time_point now);

 private:
  std::optional<LoopClock::time_point> last_;
};

/// A point of the screen, and a box of it (right and bottom outside the box).
struct ScreenPoint {
  long x = 0;
  long y = 0;
};
struct ScreenBox {
  long left = 0;
  long top = 0;
  long right = 0;
  long bottom = 0;
  bool holds(ScreenPoint at) const { return at.x >= left && at.x < right && at.y >= top && at.y < bottom; }
};

/// Pairs the left button's releases with its presses on the icon. The notification area also
/// passes on a release whose press went elsewhere (Wine's, when a click beside the open tray
/// menu closes it); only a release after a press on the icon is a click that opens the window.
/// A press dragged off the icon and released elsewhere is no part of a later release on it.
class LeftClickOnIcon {
 public:
  /// A left press on the icon, which covers `icon` (the second press of a double click included).
  void pressed(ScreenBox icon) {
    icon_ = icon;
    pressed_ = true;
    select_follows_ = false;
  }
  /// A left release over the icon: LeftUp after a press on it, else LeftUpAlone.
  TrayPointer released();
  /// Where the pointer is while the press may still be held: off the icon the press is
  /// forgotten. Gives whether a press still counts.
  bool pointer_at(ScreenPoint at);
  /// The notification area's choice of the icon: Select right after a left release, else the
  /// keyboard's (KeySelect).
  TrayPointer selected();
  /// Another button was pressed or released, or the menu took the pointer: a press before it
  /// no longer counts.
  void interrupted() {
    pressed_ = false;
    select_follows_ = false;
  }

 private:
  bool pressed_ = false;
  bool select_follows_ = false;
  ScreenBox icon_;
};

/// The most UTF-16 units a tray tooltip holds (its buffer of 128 keeps one for the end mark).
inline constexpr std::size_t tray_tooltip_units = 127;

/// A text as the notification area takes it: in UTF-16 (a byte that is not part of well-formed
/// UTF-8 becomes U+FFFD), cut after as many whole characters as fit in `units`, so a character
/// outside the basic plane is never split.
std::u16string tray_text(std::string_view text, std::size_t units);

/// The tooltip: tray_text cut to `tray_tooltip_units`.
std::u16string tray_tooltip(std::string_view text);

/// A menu text as the system's menus show it literally: each "&" doubled, since a single one
/// would underline the next letter and vanish.
std::string menu_label(std::string_view text);

}  // namespace zelk
