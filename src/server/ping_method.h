#pragma once

#include "core/json.h"
#include "core/service_error.h"

namespace tavren {

inline constexpr const char* kServiceName = "TavrenComputerUseService";

// "ping": the service name and the versions of the protocol and its capabilities.
Outcome pingMethod(const Json& params);

}  // namespace tavren
