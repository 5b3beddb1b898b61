#pragma once

#include <cstdint>

#include "platform/geometry.h"

namespace tavren {

// A whole number of points or pixels on each side.
struct PixelSize {
  int width = 0;
  int height = 0;
};

inline bool operator==(const PixelSize& a, const PixelSize& b) {
  return a.width == b.width && a.height == b.height;
}

inline constexpr int kMaxCaptureWidth = 4096;       // bound on the JPEG width a host may ask for
inline constexpr int64_t kMaxPngPixels = 12845056;  // 3584 x 3584
inline constexpr int kMaxPngSide = 8192;

// The host's "maxWidth" brought into 1..4096; absent (0) or negative gives 1, not a default.
int clampedMaxWidth(int64_t requested);

// The window's frame in whole points: each side rounded, halves away from zero, at least 1.
PixelSize windowPointSize(const Rect& frame);

// JPEG: twice the point width, or maxWidth when that is smaller; the height keeps the aspect.
// The height is not bounded here: a very tall, narrow window can ask for more than an encoder
// takes, and the encoder says so.
PixelSize jpegPixelSize(PixelSize points, int maxWidth);

// PNG: the display's pixels (density at least 1), scaled down when needed so that the area stays
// within 12,845,056 pixels and neither side exceeds 8192; never scaled up.
PixelSize pngPixelSize(PixelSize points, double pixelsPerPoint);

}  // namespace tavren
