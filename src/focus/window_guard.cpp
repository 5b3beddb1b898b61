#include "focus/window_guard.h"

#include <cmath>

#include "core/params.h"
#include "platform/geometry.h"

namespace tavren {

Json staleWindowResult() {
  return {{"status", "stale-window"}, {"posted", false}, {"windowChanged", true}};
}

bool observedWindowMatches(const Json& params, WindowServer& windows) {
  const Json* expected = objectParam(params, "expectedWindow");
  if (expected == nullptr) return true;

  // A number that is not a window number (negative, fractional beyond truncation, 2^32 or more,
  // not finite) cannot name the observed window.
  const auto number = truncatedInteger<uint32_t>(tavren::number(*expected, "windowId"));
  const double pid = tavren::number(*expected, "pid");
  if (!number || *number == 0 || !(pid > 0)) return false;

  const auto window = windows.unnamedWindow(*number);
  if (!window || window->number != *number || window->ownerPid == 0) return false;
  if (static_cast<double>(window->ownerPid) != pid) return false;
  if (!window->bounds) return false;

  // Whole points, halves away from zero; width and height are never negative.
  const Rect& r = *window->bounds;
  auto same = [&](double value, const char* key) {
    return static_cast<double>(wholePoints(value)) == tavren::number(*expected, key);
  };
  return same(r.x, "x") && same(r.y, "y") && same(std::fabs(r.width), "w") &&
         same(std::fabs(r.height), "h");
}

}  // namespace tavren
