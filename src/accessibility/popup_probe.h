#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/accessibility.h"
#include "platform/window_server.h"

namespace tavren {

// A raised window of the application that may hold a pop-up menu.
struct PopupWindow {
  uint32_t number = 0;
  Rect frame;
};

// The application's on-screen windows above the normal level (menus, pop-ups) with a frame
// larger than 1x1, front to back.
std::vector<PopupWindow> popupProbeWindows(int32_t pid, WindowServer& windowServer);

// The menu inside a pop-up window: hit-tests five points of its frame and walks up from what
// each finds, at most 8 elements, to the first "AXMenu".
std::optional<ElementIndex> probeMenuRoot(AccessibilitySnapshot& snapshot, const Rect& frame);

}  // namespace tavren
