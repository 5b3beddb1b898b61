#pragma once

#include <cstdint>
#include <optional>

#include "core/json.h"
#include "platform/event_poster.h"
#include "platform/focus.h"
#include "platform/geometry.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tavren {

// One reading of the desktop state an input request may disturb: the active window with its
// process, the workspace's record of that process (none when there is no active window or the
// workspace does not know its process), and the pointer (0, 0 when it cannot be read).
struct DesktopState {
  ActiveWindow front;
  std::optional<AppInfo> frontApp;
  Point cursor;
};

// Reads the desktop state. With `listing`, the window list the request has just read: the front
// application is named from it instead of a list read again. With `earlier`, a reading of the
// same request: when the same window of the same process is still active, its application
// record is taken from there instead of being looked up again (a window outlives neither its
// process nor its owner's identity).
DesktopState readDesktopState(EventPoster& poster, Workspace& workspace, Focus& focus,
                              const WindowListing* listing = nullptr,
                              const DesktopState* earlier = nullptr);

// The snapshot object of a reading: "helperPid" (this process), "frontmostPid" and
// "frontmostId" of the frontmost application (0 and "" when there is none), and the pointer
// "cursorX", "cursorY".
Json snapshotJson(const DesktopState& state);

// The snapshot object of the desktop now. Never fails.
Json interactionSnapshot(EventPoster& poster, Workspace& workspace, Focus& focus);

// Where a posting request's events went: the process and the window that took them.
struct PostedTo {
  int32_t pid = 0;
  uint32_t window = 0;
};

// What a posting request did, judged by a reading taken now against `before`: "posted" (true:
// a receipt is only built once the events went out), "targetPid", "targetAlive",
// "frontmostUnchanged", "cursorUnchanged" (moved less than 0.01 points on each axis), "before"
// and "after". The target counts as alive when it is the frontmost application just read or
// still owns the request's window (a window does not outlive its process); only
// otherwise is it looked up. Never fails.
Json inputReceipt(const PostedTo& target, const DesktopState& before, EventPoster& poster,
                  Workspace& workspace, WindowServer& windows, Focus& focus);

}  // namespace tavren
