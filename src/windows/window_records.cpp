#include "windows/window_records.h"

#include <cmath>
#include <limits>

#include "platform/geometry.h"

namespace tavren {

Json appWindowRecord(size_t index, const AppWindowRecord& window) {
  const Point position = window.position.value_or(Point{});
  const Size size = window.size.value_or(Size{});
  return Json{{"index", index},
              {"title", window.title},
              {"role", window.role},
              {"minimized", window.minimized},
              {"focused", window.focused},
              {"x", wholePoints(position.x)},
              {"y", wholePoints(position.y)},
              {"w", wholePoints(size.width)},
              {"h", wholePoints(size.height)}};
}

bool hasUsableBounds(const WindowInfo& window) {
  // Width and height count without their sign, as a rectangle's extent does.
  return window.bounds && std::fabs(window.bounds->width) > 1 &&
         std::fabs(window.bounds->height) > 1;
}

Json windowServerRecord(const WindowInfo& window) {
  const Rect bounds = window.bounds.value_or(Rect{});
  return Json{{"id", window.number},
              {"pid", window.ownerPid},
              {"owner", window.ownerName},
              {"title", window.title},
              {"layer", window.layer},
              {"onScreen", window.onScreen},
              {"x", wholePoints(bounds.x)},
              {"y", wholePoints(bounds.y)},
              {"w", wholePoints(std::fabs(bounds.width))},
              {"h", wholePoints(std::fabs(bounds.height))}};
}

}  // namespace tavren
