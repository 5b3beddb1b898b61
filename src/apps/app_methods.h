#pragma once

#include "core/json.h"
#include "core/service_error.h"
#include "platform/workspace.h"

namespace tavren {

// "listRunningApps": ordinary applications with their identity strings and pid.
Outcome listRunningAppsMethod(const Json& params, Workspace& workspace);
// "appIdentity": identity strings of the application with the given pid.
Outcome appIdentityMethod(const Json& params, Workspace& workspace);

}  // namespace tavren
