#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/app_watcher.h"
#include "platform/geometry.h"

namespace tavren::watch {

// The notification names the watcher reports.
inline constexpr const char* kWindowCreated = "AXWindowCreated";
inline constexpr const char* kFocusedWindowChanged = "AXFocusedWindowChanged";
inline constexpr const char* kMainWindowChanged = "AXMainWindowChanged";
inline constexpr const char* kApplicationHidden = "AXApplicationHidden";
inline constexpr const char* kApplicationShown = "AXApplicationShown";
inline constexpr const char* kElementDestroyed = "AXUIElementDestroyed";
inline constexpr const char* kMoved = "AXMoved";
inline constexpr const char* kResized = "AXResized";
inline constexpr const char* kTitleChanged = "AXTitleChanged";
inline constexpr const char* kMiniaturized = "AXWindowMiniaturized";
inline constexpr const char* kDeminiaturized = "AXWindowDeminiaturized";

// One window of a watched application as last read.
struct WindowState {
  uint32_t window = 0;
  int32_t pid = 0;
  std::string title;
  std::optional<Rect> bounds;  // in root coordinates; none when unreadable
  bool minimized = false;
};

// What the watcher knows of the watched applications' windows. Each function below applies one
// observation to it and answers the changes it makes, so that reading the same state twice
// (two events for one change) reports nothing the second time.
struct WatchedWindows {
  std::map<uint32_t, WindowState> windows;
  std::map<int32_t, uint32_t> focused;  // per pid: its window that was active last
  uint32_t active = 0;                  // the desktop's active window as last read
};

// Whether the application is hidden: it has windows, and every one is minimized.
bool applicationHidden(const WatchedWindows& watched, int32_t pid);

// A window that existed when watching began: tracked, nothing reported.
void trackWindow(WatchedWindows& watched, WindowState state);
// A window that appeared later; also its focus when it is already the active one.
std::vector<WindowChange> windowCreated(WatchedWindows& watched, WindowState state);
// The window read again: title, position, size and minimized state compared with before.
std::vector<WindowChange> windowUpdated(WatchedWindows& watched, const WindowState& now);
// The window was destroyed or withdrawn.
std::vector<WindowChange> windowGone(WatchedWindows& watched, uint32_t window);
// The desktop's active window changed.
std::vector<WindowChange> activeWindowChanged(WatchedWindows& watched, uint32_t active);

}  // namespace tavren::watch
