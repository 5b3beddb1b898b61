#pragma once

#include "core/json.h"
#include "core/service_error.h"
#include "platform/event_poster.h"
#include "platform/focus.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tavren {

// Each reads the frontmost application through `focus` and the pointer through `poster` for its
// receipt.

// "postMouse": a pointer move to ("x", "y"), then, unless "kind" is "move", the window guard
// once more and a click ("click", "right_click", "middle_click"; 1 to 3 presses by "clickCount")
// or a left-button "drag" to ("toX", "toY"). Answers an input receipt with "windowAddressed".
Outcome postMouseMethod(const Json& params, EventPoster& poster, WindowServer& windows,
                        Workspace& workspace, Focus& focus);

// "postKey": one press and release of the virtual key "keyCode" with the modifier "flags" on
// the key's own events. Answers an input receipt.
Outcome postKeyMethod(const Json& params, EventPoster& poster, WindowServer& windows,
                      Workspace& workspace, Focus& focus);

// "postScroll": "dy" lines vertically and "dx" horizontally at ("x", "y"). Answers an input
// receipt with "windowAddressed".
Outcome postScrollMethod(const Json& params, EventPoster& poster, WindowServer& windows,
                         Workspace& workspace, Focus& focus);

}  // namespace tavren
