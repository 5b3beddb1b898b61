#pragma once

#include "core/json.h"
#include "platform/window_server.h"

namespace tavren {

// The answer to a guarded request whose observed window changed. A success, not an error.
Json staleWindowResult();

// True when the request may act: it carries no "expectedWindow" object, or the window it names
// still has the observed owner and, rounded to whole points, the observed frame. Every doubt
// (window gone, owner or frame unreadable, guard incomplete or malformed) answers false.
bool observedWindowMatches(const Json& params, WindowServer& windows);

}  // namespace tavren
