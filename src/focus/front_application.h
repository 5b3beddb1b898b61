#pragma once

#include "core/json.h"
#include "core/service_error.h"
#include "platform/event_poster.h"
#include "platform/focus.h"
#include "platform/workspace.h"

namespace tavren {

// "frontmostApp": pid, bundle id and name of the front application; 0 and empty strings when
// there is none.
Outcome frontmostAppMethod(const Json& params, Workspace& workspace, Focus& focus);

// "bringToFront": makes "pid" the front application, through "windowId" when that is one of its
// windows, raising that window when "raise" is true, and reports what it displaced. Code 8 when
// the target is not running. The pointer, read through `poster` before and after, tells whether
// the switch moved it.
Outcome bringToFrontMethod(const Json& params, Workspace& workspace, Focus& focus,
                           EventPoster& poster);

// "restoreFront": gives the front back to "pid" unless it is gone or the front application is no
// longer "targetPid" (the user moved on). Never an error.
Outcome restoreFrontMethod(const Json& params, Workspace& workspace, Focus& focus);

}  // namespace tavren
