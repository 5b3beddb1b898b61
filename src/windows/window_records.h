#pragma once

#include <cstdint>
#include <string>

#include "core/json.h"
#include "platform/application_windows.h"
#include "platform/window_server.h"

namespace tavren {

// The record of one accessible window: "index", "title", "role", "minimized", "focused" and the
// frame "x", "y", "w", "h" (0 where position or size is unknown).
Json appWindowRecord(size_t index, const AppWindowRecord& window);

// Whether a window-server entry is big enough to be a window a user can see or act on: it has
// bounds, and is more than one point wide and more than one point tall.
bool hasUsableBounds(const WindowInfo& window);

// The record of one window-server window ("id", "pid", "owner", "title", "layer", "onScreen",
// "x", "y", "w", "h"). Only for windows with bounds.
Json windowServerRecord(const WindowInfo& window);

}  // namespace tavren
