#pragma once

#include <span>
#include <string_view>

#include "core/json.h"
#include "core/service_error.h"
#include "platform/workspace.h"
#include "server/service.h"

namespace tavren {

// Which of the service's queues runs a request.
enum class Queue {
  Requests,     // the concurrent request threads
  Reader,       // methods that need no desktop: answered by the reader before the next line
  RemoteInput,  // one at a time, in input order
};

// Where the handler itself runs once its request has been taken up.
enum class RunOn { Worker, MainThread };

// Handlers in the catalogue are adapters: they hand each subsystem's function the narrow part
// of the service it needs.
using MethodHandler = Outcome (*)(const Json& params, Service& service);
// For methods that act on one application, resolved from "app" and "pid" before the call.
using AppMethodHandler = Outcome (*)(const AppInfo& app, const Json& params, Service& service);

// One row of the method catalogue. Rows are sorted by name.
struct MethodRow {
  std::string_view name;
  MethodHandler handler = nullptr;        // set for methods that take the parameters only
  AppMethodHandler appHandler = nullptr;  // set for methods that name an application
  int noAppCode = 0;                      // code of "No matching running app" for appHandler rows
  Queue queue = Queue::Requests;
  RunOn runOn = RunOn::Worker;  // MainThread: resolved on the worker, handled on the main loop
};

std::span<const MethodRow> methodCatalogue();

// The row for an exact, case-sensitive method name, or nullptr.
const MethodRow* findMethod(std::string_view name);

// The queue for a request naming this method. Unknown methods are answered by the reader,
// except those the window guard checks first, which needs the desktop.
Queue queueFor(std::string_view method);

// Turns one whole request object into a result or an error.
Outcome handle(Service& service, const Json& request);

}  // namespace tavren
