#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/geometry.h"
#include "platform/linux/atspi/accessible_reads.h"

namespace tavren::atspi {

// What scrolling through an application's scroll bars, in place of wheel events, came to.
enum class WheelStandIn {
  NotNeeded,    // the toolkit is not known to ignore synthetic wheel events (or nothing to do)
  Scrolled,     // a scroll bar of the element under the point was set, on one axis at least
  NotScrolled,  // the toolkit ignores them, and nothing under the point could be scrolled
};

// A toolkit scrolls this many single steps of a scroll bar per wheel click (Qt:
// QApplication::wheelScrollLines(), 3 unless the desktop's settings change it).
inline constexpr int32_t kStepsPerWheelClick = 3;

// What a scroll bar's Value interface tells.
struct ScrollBarValue {
  double current = 0;
  double minimum = 0;
  double maximum = 0;
  double increment = 0;  // MinimumIncrement: the bar's single step; 1 when not above 0
};

// The value a scroll bar goes to for `clicks` wheel clicks, positive toward the top or the left
// (the value falls), clamped to the bar's range.
double scrolledValue(const ScrollBarValue& bar, int32_t clicks);

enum class ScrollAxis { Vertical, Horizontal };

// A scroll bar's orientation: its vertical or horizontal state, else its shape (Qt 5 sets
// neither state); none for a bar of no size.
std::optional<ScrollAxis> scrollBarAxis(uint64_t states,
                                        const std::optional<std::array<int32_t, 4>>& extents);

// Where the toolkit ignores synthetic wheel events (ToolkitTraits, read here from the
// application's root at `rootPath`): finds the accessible at the global point `at` in the
// application's window whose top-left corner is nearest `windowOrigin` among those holding the
// point, walks up to the nearest element with a showing scroll bar of each axis (a child, or
// the child of a filler or panel child, as Qt places them), and sets the bar's value by
// kStepsPerWheelClick single steps per click. `clicks`: vertical then horizontal, positive
// toward the top and the left. Every call is bounded by the call timeout.
WheelStandIn scrollUnderPoint(AppLink& link, const std::string& rootPath, Point windowOrigin,
                              Point at, std::array<int32_t, 2> clicks);

}  // namespace tavren::atspi
