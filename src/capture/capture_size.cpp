#include "capture/capture_size.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tavren {
namespace {

// Rounds halves away from zero and keeps the result a positive int, so absurd frames (a
// window server reporting 1e300) cannot overflow the arithmetic that follows.
int positiveRounded(double value) {
  if (!(value >= 1)) return 1;  // also NaN
  const double rounded = std::round(value);
  constexpr double kMax = std::numeric_limits<int>::max();
  return rounded >= kMax ? std::numeric_limits<int>::max() : static_cast<int>(rounded);
}

}  // namespace

int clampedMaxWidth(int64_t requested) {
  return static_cast<int>(std::clamp<int64_t>(requested, 1, kMaxCaptureWidth));
}

PixelSize windowPointSize(const Rect& frame) {
  return {positiveRounded(frame.width), positiveRounded(frame.height)};
}

PixelSize jpegPixelSize(PixelSize points, int maxWidth) {
  const int64_t width =
      std::max<int64_t>(1, std::min<int64_t>(2 * int64_t{points.width}, maxWidth));
  const double height = static_cast<double>(points.height) * static_cast<double>(width) /
                        static_cast<double>(points.width);
  return {static_cast<int>(width), positiveRounded(height)};
}

PixelSize pngPixelSize(PixelSize points, double pixelsPerPoint) {
  const double scale = std::max(1.0, std::isfinite(pixelsPerPoint) ? pixelsPerPoint : 1.0);
  const double w = scale * points.width;
  const double h = scale * points.height;
  const double s = std::min({std::sqrt(static_cast<double>(kMaxPngPixels) / (w * h)),
                             kMaxPngSide / h, kMaxPngSide / w, 1.0});
  return {std::max(1, static_cast<int>(std::floor(w * s))),
          std::max(1, static_cast<int>(std::floor(h * s)))};
}

}  // namespace tavren
