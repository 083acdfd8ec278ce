#include "tray_input.h"

#include "unicode.h"

namespace zelk {

std::vector<UserEvent> tray_events(TrayPointer pointer) {
  switch (pointer) {
    case TrayPointer::LeftUp:
    case TrayPointer::KeySelect:
      return {ShowWindow{}, RefreshTick{}};
    case TrayPointer::LeftDown:
    case TrayPointer::LeftUpAlone:
    case TrayPointer::RightDown:
    case TrayPointer::RightUp:
    case TrayPointer::MiddleDown:
    case TrayPointer::MiddleUp:
    case TrayPointer::Enter:
      return {RefreshTick{}};
    case TrayPointer::LeftDouble:
    case TrayPointer::RightDouble:
    case TrayPointer::MiddleDouble:
    case TrayPointer::Move:
    case TrayPointer::Leave:
    case TrayPointer::Select:
      return {};
  }
  return {};
}

TrayPointer LeftClickOnIcon::released() {
  const bool paired = pressed_;
  pressed_ = false;
  select_follows_ = true;
  return paired ? TrayPointer::LeftUp : TrayPointer::LeftUpAlone;
}

bool LeftClickOnIcon::pointer_at(ScreenPoint at) {
  if (pressed_ && !icon_.holds(at)) pressed_ = false;
  return pressed_;
}

TrayPointer LeftClickOnIcon::selected() {
  const bool follows = select_follows_;
  select_follows_ = false;
  return follows ? TrayPointer::Select : TrayPointer::KeySelect;
}

TrayPointer PointerOverIcon::moved(LoopClock::time_point now) {
  const bool came_over = !last_ || now - *last_ >= quiet;
  last_ = now;
  return came_over ? TrayPointer::Enter : TrayPointer::Move;
}

void PointerOverIcon::touched(LoopClock::time_point now) { last_ = now; }

std::u16string tray_text(std::string_view text, std::size_t most) {
  std::u16string units;
  for (std::size_t at = 0; at < text.size();) {
    const CodePoint point = code_point_at(text, at);
    at += point.size;
    if (point.value >= 0x10000) {
      if (units.size() + 2 > most) break;
      const char32_t offset = point.value - 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
    } else {
      if (units.size() + 1 > most) break;
      units.push_back(static_cast<char16_t>(point.value));
    }
  }
  return units;
}

std::u16string tray_tooltip(std::string_view text) { return tray_text(text, tray_tooltip_units); }

std::string menu_label(std::string_view text) {
  std::string label;
  label.reserve(text.size());
  for (char c : text) {
    label.push_back(c);
    if (c == '&') label.push_back('&');
  }
  return label;
}

}  // namespace zelk
