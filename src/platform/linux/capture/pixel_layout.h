#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The arithmetic of reading window pixels from an X server, kept apart from the server so it can
// be checked on its own.
namespace tavren::x11 {

// How the server lays out the pixels of one depth in a ZPixmap image.
struct PixelLayout {
  uint8_t depth = 0;
  bool hasAlpha = false;   // depth 32: an ARGB visual; else the top byte is padding
  bool swapBytes = false;  // the server's image byte order is not ours
};

// A visual as the connection setup describes it.
struct VisualFormat {
  uint8_t depth = 0;
  uint8_t bitsPerPixel = 0;  // of ZPixmap images of that depth
  bool trueColor = false;
  uint32_t redMask = 0, greenMask = 0, blueMask = 0;
};

// The layouts the backend converts: 32 bits per pixel, 8 bits per channel in the usual places,
// depth 24 (opaque) or 32 (with alpha). Others (16-bit and palette displays) are not read.
std::optional<PixelLayout> layoutFor(const VisualFormat& format, bool serverIsBigEndian);

// Converts rows of server pixels into premultiplied 0xAARRGGBB words. Padding bytes become opaque
// alpha; X's ARGB visuals are premultiplied already, so alpha is kept as it is.
void copyAsArgb(const uint8_t* from, size_t fromStride, int width, int height,
                const PixelLayout& layout, uint32_t* to, size_t toStride);

// Position and size of one window along its chain of ancestors, from get_geometry.
struct WindowGeometry {
  int x = 0, y = 0;           // outer top-left, relative to the parent's inside
  int width = 0, height = 0;  // inside
  int border = 0;
};

// Where a window's inside lies in its top-level: in the top-level's pixmap (which starts at the
// outer edge, border included) and on the root.
struct WindowPlacement {
  int pixmapX = 0, pixmapY = 0;
  int rootX = 0, rootY = 0;
  int width = 0, height = 0;
};

// chain[0] is the window, each next entry its parent, the last one the top-level (a child of
// the root). Empty chain: nothing.
std::optional<WindowPlacement> placementOf(const std::vector<WindowGeometry>& chain);

// The part of a width x height image at (x, y) that lies inside a drawable of the given size:
// the rectangle to read from the drawable, and where it goes in the image.
struct AreaToRead {
  int fromX = 0, fromY = 0;   // in the drawable
  int toX = 0, toY = 0;       // in the image
  int width = 0, height = 0;  // 0 when nothing overlaps
};
AreaToRead overlapOf(int x, int y, int width, int height, int drawableWidth, int drawableHeight);

}  // namespace tavren::x11
