#pragma once
/// Icons made from the program's mark. Windows builds only.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>

namespace zelk {

struct IconDeleter {
  void operator()(HICON icon) const { DestroyIcon(icon); }
};
using IconHandle = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

/// An icon of `size` x `size` pixels from RGBA bytes (rows from the top, straight alpha, as
/// the mark is drawn): a 32-bit colour bitmap whose alpha channel the system blends with, and
/// a mask that is set where a pixel is fully transparent, for the few places that still draw
/// with masks. Null when the system has no room for it. A buffer of any other length than
/// size x size x 4 is a broken invariant and ends the program.
IconHandle icon_from_rgba(std::span<const std::uint8_t> rgba, int size);

/// The mark drawn at `size` pixels, as an icon.
IconHandle mark_icon(int size);

}  // namespace zelk
