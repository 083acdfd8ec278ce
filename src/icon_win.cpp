#include "icon_win.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "mark.h"

namespace zelk {

namespace {

struct BitmapDeleter {
  void operator()(HBITMAP bitmap) const { DeleteObject(bitmap); }
};
using BitmapHandle = std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDeleter>;

}  // namespace

IconHandle icon_from_rgba(std::span<const std::uint8_t> rgba, int size) {
  if (size <= 0 || rgba.size() != static_cast<std::size_t>(size) * static_cast<std::size_t>(size) * 4) {
    std::abort();  // the icon has a fixed, valid size
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = -size;  // rows from the top, as drawn
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  BitmapHandle colour(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!colour || bits == nullptr) return nullptr;
  // The system reads blue, green, red, alpha, and takes alpha unmultiplied, as icon files
  // hold it (it multiplies when it draws).
  auto* pixels = static_cast<std::uint8_t*>(bits);
  const std::size_t count = static_cast<std::size_t>(size) * static_cast<std::size_t>(size);
  for (std::size_t pixel = 0; pixel < count; ++pixel) {
    pixels[pixel * 4 + 0] = rgba[pixel * 4 + 2];
    pixels[pixel * 4 + 1] = rgba[pixel * 4 + 1];
    pixels[pixel * 4 + 2] = rgba[pixel * 4 + 0];
    pixels[pixel * 4 + 3] = rgba[pixel * 4 + 3];
  }
  GdiFlush();

  // One bit a pixel, rows padded to whole 16-bit words; a set bit lets the background through.
  const std::size_t row_bytes = (static_cast<std::size_t>(size) + 15) / 16 * 2;
  std::vector<std::uint8_t> mask_bits(row_bytes * static_cast<std::size_t>(size), 0);
  const std::size_t side = static_cast<std::size_t>(size);
  for (std::size_t y = 0; y < side; ++y) {
    for (std::size_t x = 0; x < side; ++x) {
      if (rgba[(y * side + x) * 4 + 3] == 0) {
        mask_bits[y * row_bytes + x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
      }
    }
  }
  BitmapHandle mask(CreateBitmap(size, size, 1, 1, mask_bits.data()));
  if (!mask) return nullptr;

  ICONINFO icon{};
  icon.fIcon = TRUE;
  icon.hbmMask = mask.get();
  icon.hbmColor = colour.get();
  return IconHandle(CreateIconIndirect(&icon));  // it copies both bitmaps
}

IconHandle mark_icon(int size) { return icon_from_rgba(draw_mark(static_cast<std::uint32_t>(size)), size); }

}  // namespace zelk
