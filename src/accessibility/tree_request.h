#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "core/json.h"
#include "platform/geometry.h"

namespace tavren {

inline constexpr size_t kMaxTreeElements = 2000;
inline constexpr size_t kMaxTreeDepth = 30;

// Row budget and depth limit of one snapshot, always within their caps.
struct TreeLimits {
  size_t maxElements = 1;
  size_t maxDepth = 1;
};

// "maxElements" and "maxDepth": numbers truncated toward zero, clamped to 1..2000 and 1..30.
// Absent, mistyped, negative, fractional below 1 and huge values all land inside.
TreeLimits treeLimits(const Json& params);

// The window a scoped snapshot is about: by frame when all four numbers are given, by title
// otherwise.
struct WindowScope {
  std::string title;         // lower-cased; "" when absent
  std::optional<Rect> frame; // present in frame mode
};

// The "window" member when it is an object; none (unscoped) otherwise.
std::optional<WindowScope> windowScope(const Json& params);

// Whether a window with this title and unrounded frame is the one the scope names.
bool windowMatchesScope(const WindowScope& scope, const std::string& title, const Rect& frame);

// Whether two rectangles share an area. Negative sizes are taken as extending the other way;
// rectangles that only touch at an edge, or have no area, do not overlap.
bool rectanglesOverlap(const Rect& a, const Rect& b);

}  // namespace tavren
