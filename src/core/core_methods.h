#pragma once

#include "core/json.h"
#include "core/service.h"
#include "core/service_error.h"

namespace tavren {

inline constexpr const char* kServiceName = "TavrenComputerUseService";

// "ping": the service name and the versions of the protocol and its capabilities.
Outcome pingMethod(const Json& params, Service& service);
// "listRunningApps": ordinary applications with their identity strings and pid.
Outcome listRunningAppsMethod(const Json& params, Service& service);
// "appIdentity": identity strings of the application with the given pid.
Outcome appIdentityMethod(const Json& params, Service& service);

}  // namespace tavren
