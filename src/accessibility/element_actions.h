#pragma once

#include "core/json.h"
#include "platform/accessibility.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tavren {

// "performAXAction": performs one of the element's actions, named as a tree row lists them.
// Answers a status object: "ok" (with the box read after the action), "not-found",
// "unsupported" (with the box), "stale-window" or "error" (with the platform's code).
Json performNativeAXAction(const AppInfo& app, const Json& params, Accessibility& accessibility,
                           WindowServer& windowServer);

// "setAXValue": focuses the element and replaces its value with the "value" string. Answers a
// status object: "ok", "not-found", "unsupported", "stale-window" or "error". No status ever
// carries the value.
Json setNativeAXValue(const AppInfo& app, const Json& params, Accessibility& accessibility,
                      WindowServer& windowServer);

}  // namespace tavren
