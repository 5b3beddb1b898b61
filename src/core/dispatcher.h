#pragma once

#include <span>
#include <string_view>

#include "core/json.h"
#include "core/service.h"
#include "core/service_error.h"

namespace tavren {

enum class RunOn { Worker, MainThread };

// One row of the method catalogue. Rows are sorted by name.
struct MethodRow {
  std::string_view name;
  Outcome (*handler)(const Json& params, Service& service);
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
