// One rounding rule for every box the service reports.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "accessibility/element_summary.h"
#include "windows/window_records.h"

namespace tavren {
namespace {

// An element's box, the record of its accessible window and the window server's record of the
// same window agree on every value: halves go away from zero, and what no 64-bit integer holds
// (not finite, or too large) reads 0 in all of them.
TEST(BoxRounding, ElementsAndWindowsRoundEveryValueAlike) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    int64_t reported;
  } cases[] = {
      {10.5, 11},        {-10.5, -11},        {2.5, 3},
      {-2.5, -3},        {10.49, 10},         {-0.4, 0},
      {3e9, 3000000000}, {-3e9, -3000000000}, {std::nan(""), 0},
      {inf, 0},          {-inf, 0},           {1e300, 0},
      {-1e300, 0},       {9.3e18, 0},         {-9223372036854775808.0, INT64_MIN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    ElementDetails element;
    element.position = Point{c.value, c.value};
    element.size = Size{c.value, c.value};
    AppWindowRecord accessible;
    accessible.position = Point{c.value, c.value};
    accessible.size = Size{c.value, c.value};
    WindowInfo server;
    server.bounds = Rect{c.value, c.value, c.value, c.value};
    const Json boxes[] = {axElementBox(element), appWindowRecord(0, accessible),
                          windowServerRecord(server)};
    for (const Json& box : boxes) {
      EXPECT_EQ(box["x"], c.reported);
      EXPECT_EQ(box["y"], c.reported);
    }
    // The window server's extent has no sign.
    EXPECT_EQ(boxes[0]["w"], c.reported);
    EXPECT_EQ(boxes[1]["h"], c.reported);
    EXPECT_EQ(boxes[2]["w"], wholePoints(std::fabs(c.value)));
  }
}

}  // namespace
}  // namespace tavren
