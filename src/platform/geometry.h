#pragma once

#include <cmath>
#include <cstdint>

namespace tavren {

// Global screen coordinates in points, origin at the top left of the main display.
struct Point {
  double x = 0;
  double y = 0;
};

struct Size {
  double width = 0;
  double height = 0;
};

struct Rect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

inline bool operator==(const Rect& a, const Rect& b) {
  return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

// A coordinate or length as the protocol reports it: the nearest whole number, halves away from
// zero. A value that is not finite, or whose rounded value lies outside the 64-bit range, reads
// 0, as an unreadable one does. Every box the service reports (windows, elements, frames) rounds
// through this one rule, so a window's box and its element's box never disagree.
inline int64_t wholePoints(double value) {
  if (!std::isfinite(value)) return 0;
  const double rounded = std::round(value);
  // 2^63 is exact in double; anything at or beyond it does not fit.
  constexpr double kLimit = 9223372036854775808.0;
  if (rounded >= kLimit || rounded < -kLimit) return 0;
  return static_cast<int64_t>(rounded);
}

}  // namespace tavren
