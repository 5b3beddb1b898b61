#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/geometry.h"

namespace tavren {

// One window as the window server lists it. Window numbers are the ids that capture, event
// targeting and the window guard take.
struct WindowInfo {
  uint32_t number = 0;
  int32_t ownerPid = 0;         // 0 when unknown
  std::string ownerName;        // empty when unknown
  std::string title;            // empty when untitled
  std::optional<Rect> bounds;   // absent when the server could not tell
  int32_t layer = 0;
  bool onScreen = false;
};

// The window list of the whole desktop.
class WindowServer {
 public:
  virtual ~WindowServer() = default;
  // Every window, front to back, including off-screen ones.
  virtual std::vector<WindowInfo> windows() = 0;
  // The same list with every ownerName empty, for callers that route by window and owner pid
  // and need no names (naming the owners reads each owner's process).
  virtual std::vector<WindowInfo> unnamedWindows() { return windows(); }
  // The one window with this number, or none.
  virtual std::optional<WindowInfo> window(uint32_t number) = 0;
};

}  // namespace tavren
