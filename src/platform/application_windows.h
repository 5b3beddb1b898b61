#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/geometry.h"

namespace tavren {

// One window of an application as its accessibility interface presents it.
struct AppWindowRecord {
  std::string title;               // empty when untitled or unreadable
  std::string role;                // in the protocol's vocabulary ("AXWindow"); may be empty
  bool minimized = false;
  bool focused = false;            // the application's focused window; at most one is
  std::optional<Point> position;   // global coordinates; absent when unreadable
  std::optional<Size> size;        // absent when unreadable
};

// An application's windows through the accessibility interface, and the few changes the
// window-state requests make to them. Readers never fail: what cannot be read is empty or false.
class ApplicationWindows {
 public:
  virtual ~ApplicationWindows() = default;
  // Whether this service may read and drive other applications through accessibility at all.
  virtual bool trusted() = 0;
  // The application's windows, in the order its accessibility interface lists them.
  virtual std::vector<AppWindowRecord> windows(int32_t pid) = 0;
  // Whether the application as a whole is hidden from the user.
  virtual bool isHidden(int32_t pid) = 0;
  // Whether the process has ended.
  virtual bool isTerminated(int32_t pid) = 0;
  // Asks the application to show itself again. Asynchronous; the outcome is not reported.
  virtual void unhide(int32_t pid) = 0;
  // Asks that the window at this position of windows(pid) be un-minimized. True when the
  // request was accepted; the window may come back a little later.
  virtual bool unminimize(int32_t pid, size_t index) = 0;
};

}  // namespace tavren
