#pragma once

#include <cstdint>

#include "core/json.h"
#include "platform/event_poster.h"
#include "platform/focus.h"
#include "platform/workspace.h"

namespace tavren {

// The desktop state an input request may disturb: "helperPid" (this process), "frontmostPid"
// and "frontmostId" of the frontmost application (0 and "" when there is none), and the pointer
// "cursorX", "cursorY" (0 when it cannot be read). Never fails.
Json interactionSnapshot(EventPoster& poster, Workspace& workspace, Focus& focus);

// What a posting request did, judged by a snapshot taken now against `before`: "posted" (true:
// a receipt is only built once the events went out), "targetPid", "targetAlive",
// "frontmostUnchanged", "cursorUnchanged" (moved less than 0.01 points on each axis), "before"
// unchanged and "after". Never fails.
Json inputReceipt(int32_t targetPid, const Json& before, EventPoster& poster, Workspace& workspace,
                  Focus& focus);

}  // namespace tavren
