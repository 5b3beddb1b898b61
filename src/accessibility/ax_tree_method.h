#pragma once

#include "core/json.h"
#include "core/service.h"
#include "core/service_error.h"
#include "platform/workspace.h"

namespace tavren {

// "axTree": a bounded, depth-first list of the application's accessibility elements.
Outcome axTreeMethod(const AppInfo& app, const Json& params, Service& service);

}  // namespace tavren
