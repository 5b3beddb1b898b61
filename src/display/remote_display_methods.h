// "remoteDisplayStatus", "remoteDisplayEnsure" and "remoteDisplayRelease".
#pragma once

#include "core/json.h"
#include "core/service_error.h"
#include "display/remote_display_manager.h"

namespace tavren {

// An operation's object as a request's outcome: an "error" string fails the request (domain
// "RemoteDisplay", code 1, that string as the message); any other object is the result as it
// stands.
Outcome remoteDisplayOutcome(Json object);

Outcome remoteDisplayStatusMethod(TavrenRemoteDisplayManager& manager);
Outcome remoteDisplayEnsureMethod(const Json& params, TavrenRemoteDisplayManager& manager);
Outcome remoteDisplayReleaseMethod(const Json& params, TavrenRemoteDisplayManager& manager);

}  // namespace tavren
