#pragma once

#include <cstdint>
#include <memory>
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

// What a backend read to make a window list, for its other interfaces to reuse within the
// same request.
class WindowListingRecord {
 public:
  virtual ~WindowListingRecord() = default;
};

// One reading of the window list. Nothing keeps it beyond the request that read it: the
// desktop changes under it.
struct WindowListing {
  std::vector<WindowInfo> windows;
  std::shared_ptr<const WindowListingRecord> record;  // none when the backend keeps none
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
  // unnamedWindows() together with the backend's own record of that reading, which
  // Workspace::applicationWithListing can take instead of reading the list again.
  virtual WindowListing unnamedListing() { return {unnamedWindows(), nullptr}; }
  // The one window with this number, or none.
  virtual std::optional<WindowInfo> window(uint32_t number) = 0;
  // The same with ownerName empty.
  virtual std::optional<WindowInfo> unnamedWindow(uint32_t number) { return window(number); }
};

}  // namespace tavren
