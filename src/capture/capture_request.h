#pragma once

#include "core/json.h"
#include "core/service_error.h"
#include "platform/platform.h"

namespace tavren {

// "captureWindow": reads "windowId", "maxWidth" and "guiCapture", checks them in the catalogue's
// order (a missing window id before anything about the desktop), then captures.
Outcome captureWindowRequest(const Json& params, Platform& platform);

}  // namespace tavren
