#include "platform/linux/capture/pixel_layout.h"

#include <pixman.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace tavren::x11 {

std::optional<PixelLayout> layoutFor(const VisualFormat& f, bool serverIsBigEndian) {
  if (f.bitsPerPixel != 32 || !f.trueColor) return std::nullopt;
  if (f.depth != 24 && f.depth != 32) return std::nullopt;
  if (f.redMask != 0xFF0000 || f.greenMask != 0xFF00 || f.blueMask != 0xFF) return std::nullopt;
  PixelLayout layout;
  layout.depth = f.depth;
  layout.hasAlpha = f.depth == 32;
  layout.swapBytes = serverIsBigEndian != (std::endian::native == std::endian::big);
  return layout;
}

void copyAsArgb(const uint8_t* from, size_t fromStride, int width, int height,
                const PixelLayout& layout, uint32_t* to, size_t toStride) {
  if (width <= 0 || height <= 0) return;
  if (!layout.swapBytes) {
    // pixman's SIMD paths do the copy and the alpha fill in one pass, several times faster than
    // a plain loop, and this copy is on the path of every capture. Server rows are whole 32-bit
    // words, so the strides are too.
    pixman_image_t* source = pixman_image_create_bits(
        layout.hasAlpha ? PIXMAN_a8r8g8b8 : PIXMAN_x8r8g8b8, width, height,
        reinterpret_cast<uint32_t*>(const_cast<uint8_t*>(from)), static_cast<int>(fromStride));
    pixman_image_t* target = pixman_image_create_bits(PIXMAN_a8r8g8b8, width, height, to,
                                                      static_cast<int>(toStride * 4));
    if (source && target) {
      pixman_image_composite32(PIXMAN_OP_SRC, source, nullptr, target, 0, 0, 0, 0, 0, 0, width,
                               height);
    }
    if (source) pixman_image_unref(source);
    if (target) pixman_image_unref(target);
    return;
  }
  const uint32_t alphaFill = layout.hasAlpha ? 0 : 0xFF000000u;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = from + static_cast<size_t>(y) * fromStride;
    uint32_t* out = to + static_cast<size_t>(y) * toStride;
    for (int x = 0; x < width; ++x) {
      uint32_t px;
      std::memcpy(&px, row + static_cast<size_t>(x) * 4, 4);
      out[x] = __builtin_bswap32(px) | alphaFill;
    }
  }
}

std::optional<WindowPlacement> placementOf(const std::vector<WindowGeometry>& chain) {
  if (chain.empty()) return std::nullopt;
  // The window's inside, in the top-level's inside coordinates.
  int x = 0, y = 0;
  for (size_t i = 0; i + 1 < chain.size(); ++i) {
    x += chain[i].x + chain[i].border;
    y += chain[i].y + chain[i].border;
  }
  const WindowGeometry& top = chain.back();
  WindowPlacement p;
  p.pixmapX = x + top.border;
  p.pixmapY = y + top.border;
  p.rootX = x + top.x + top.border;
  p.rootY = y + top.y + top.border;
  p.width = chain.front().width;
  p.height = chain.front().height;
  return p;
}

AreaToRead overlapOf(int x, int y, int width, int height, int drawableWidth, int drawableHeight) {
  const int left = std::max(x, 0), top = std::max(y, 0);
  const int right = std::min(x + width, drawableWidth);
  const int bottom = std::min(y + height, drawableHeight);
  if (right <= left || bottom <= top) return {};
  return {left, top, left - x, top - y, right - left, bottom - top};
}

}  // namespace tavren::x11
