#pragma once

#include <span>
#include <string_view>

#include "core/json.h"
#include "core/service.h"
#include "core/service_error.h"
#include "platform/workspace.h"

namespace tavren {

enum class RunOn { Worker, MainThread };

using MethodHandler = Outcome (*)(const Json& params, Service& service);
// For methods that act on one application, resolved from "app" and "pid" before the call.
using AppMethodHandler = Outcome (*)(const AppInfo& app, const Json& params, Service& service);

// One row of the method catalogue. Rows are sorted by name.
struct MethodRow {
  std::string_view name;
  MethodHandler handler = nullptr;        // set for methods that take the parameters only
  AppMethodHandler appHandler = nullptr;  // set for methods that name an application
  int noAppCode = 0;                      // code of "No matching running app" for appHandler rows
  RunOn runOn = RunOn::Worker;
};

std::span<const MethodRow> methodCatalogue();

// The row for an exact, case-sensitive method name, or nullptr.
const MethodRow* findMethod(std::string_view name);

// True for the one method that runs serially, in input order.
bool runsOnRemoteInputQueue(std::string_view method);

// Turns one whole request object into a result or an error.
Outcome handle(Service& service, const Json& request);

}  // namespace tavren
