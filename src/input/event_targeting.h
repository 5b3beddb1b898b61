#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/json.h"
#include "platform/event_poster.h"
#include "platform/geometry.h"
#include "platform/window_server.h"

namespace tavren {

// One on-screen window of the target process that an event at a point may land in.
struct TargetWindow {
  uint32_t id = 0;
  Rect frame;
};

// Where the events of one posting request go: the window the request named, and the process's
// other on-screen windows (front to back) that lie over it, such as pop-ups and dialogs.
struct EventTarget {
  EventWindow attached;
  std::vector<TargetWindow> sameProcess;

  // The front-most listed window whose frame holds the point (right and bottom edges outside),
  // else the named window.
  EventWindow windowAt(Point point) const;
};

// The target process's windows that may take events: on screen, at a layer of 0 or more, and
// more than one point wide and tall, in the order of the list (front to back).
std::vector<TargetWindow> eventWindowsOf(std::span<const WindowInfo> list, int32_t pid);

// The target of a request that names a window ("windowId"): none when it names none (absent, 0,
// or not a window number), or a window that is missing, owned by another process or without a
// frame. Computed once per request; windows that move afterwards are not followed.
std::optional<EventTarget> eventWindow(const Json& params, int32_t pid,
                                       std::span<const WindowInfo> list);

// Where events go when the request names no window: X routes input by window, not by process,
// so they go to the process's window under their point, else to its main window (front-most at
// the normal layer, else front-most). None when the process has no window that can take them.
std::optional<EventTarget> processTarget(int32_t pid, std::span<const WindowInfo> list);

// The window key events go to: the named window when there is one, else the process's
// front-most window at the normal layer, else its front-most one; none without windows.
std::optional<EventWindow> keyWindow(const Json& params, int32_t pid,
                                     std::span<const WindowInfo> list);

}  // namespace tavren
