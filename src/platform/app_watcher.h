#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/accessibility.h"

namespace tavren {

// One change of a watched application, named as the protocol names it ("AXMoved", ...).
struct WindowChange {
  int32_t pid = 0;
  std::string notification;
  std::string title;          // the window's title now; empty for a window that is gone
  bool ofApplication = false;  // the application as a whole changed, not one of its windows

  bool operator==(const WindowChange&) const = default;
};

// Called for every change of a watched application, in the order they happened, from a thread
// of the platform's (never while a watch() call is under way on that thread).
using WindowChangeListener = std::function<void(const WindowChange&)>;

// How starting to watch went.
struct WatchStart {
  bool watching = false;
  AccessibilityError code = 0;  // why not, when not watching
  int64_t windows = 0;          // the application's windows when watching began
};

// Reports the window changes of applications: windows created, moved, resized, retitled,
// minimized, restored, focused and destroyed, and the application hidden and shown. Safe to
// call from any thread.
class AppWatcher {
 public:
  virtual ~AppWatcher() = default;
  // Starts reporting the changes of the process with this pid to `listener`, for as long as
  // the platform lives. Watching a pid already watched adds nothing and keeps the first
  // listener.
  virtual WatchStart watch(int32_t pid, WindowChangeListener listener) = 0;
};

}  // namespace tavren
