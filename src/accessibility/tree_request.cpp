#include "accessibility/tree_request.h"

#include <algorithm>
#include <cmath>

#include "accessibility/attribute_readers.h"
#include "core/unicode_text.h"
#include "core/params.h"

namespace tavren {
namespace {

// Truncation toward zero, then clamping. Comparing before converting keeps values far outside
// any integer type (1e300) well defined.
size_t clampedLimit(double value, size_t cap) {
  const double truncated = std::trunc(value);
  if (!(truncated >= 1)) return 1;
  if (truncated >= static_cast<double>(cap)) return cap;
  return static_cast<size_t>(truncated);
}

std::optional<double> jsonNumber(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_number()) return std::nullopt;
  return it->get<double>();
}

// The same rectangle with non-negative width and height.
Rect standardized(const Rect& r) {
  Rect s = r;
  if (s.width < 0) {
    s.x += s.width;
    s.width = -s.width;
  }
  if (s.height < 0) {
    s.y += s.height;
    s.height = -s.height;
  }
  return s;
}

}  // namespace

TreeLimits treeLimits(const Json& params) {
  return {clampedLimit(number(params, "maxElements"), kMaxTreeElements),
          clampedLimit(number(params, "maxDepth"), kMaxTreeDepth)};
}

std::optional<WindowScope> windowScope(const Json& params) {
  const Json* window = objectParam(params, "window");
  if (window == nullptr) return std::nullopt;
  WindowScope scope;
  if (auto it = window->find("title"); it != window->end() && it->is_string()) {
    scope.title = lowerCased(it->get<std::string>());
  }
  auto x = jsonNumber(*window, "x"), y = jsonNumber(*window, "y");
  auto w = jsonNumber(*window, "w"), h = jsonNumber(*window, "h");
  if (x && y && w && h) scope.frame = Rect{*x, *y, *w, *h};
  return scope;
}

bool windowMatchesScope(const WindowScope& scope, const std::string& title, const Rect& frame) {
  if (scope.frame) {
    const Rect& f = *scope.frame;
    return std::fabs(frame.x - f.x) <= 2 && std::fabs(frame.y - f.y) <= 2 &&
           std::fabs(frame.width - f.width) <= 2 && std::fabs(frame.height - f.height) <= 2;
  }
  return !scope.title.empty() && lowerCased(title) == scope.title;
}

bool rectanglesOverlap(const Rect& a, const Rect& b) {
  const Rect s = standardized(a), t = standardized(b);
  if (!(s.width > 0 && s.height > 0 && t.width > 0 && t.height > 0)) return false;
  return s.x < t.x + t.width && t.x < s.x + s.width && s.y < t.y + t.height &&
         t.y < s.y + s.height;
}

}  // namespace tavren
