#pragma once
/// The program's mark, a rounded square holding a stylised figure, drawn in code at any square
/// size: the tray icon (32 pixels), the window icon (64) and the taskbar icon (128) all come
/// from here, so no image file ships with the program.

#include <cstdint>
#include <vector>

namespace zelk {

/// The mark as n x n pixels, 4 bytes each (red, green, blue, alpha), rows from the top and
/// each row from the left: 4 n^2 bytes. Every pixel is sampled on a 4 x 4 grid; the colour is
/// the integer mean of the samples that fall inside the rounded square, and the alpha tells
/// how many did, so edges are smooth and never darkened. Pure; gives the same bytes on every
/// platform.
std::vector<std::uint8_t> draw_mark(std::uint32_t n);

}  // namespace zelk
