#include "core/dispatcher.h"

#include <algorithm>
#include <array>

#include "accessibility/ax_tree_method.h"
#include "apps/app_resolution.h"
#include "capture/capture_request.h"
#include "core/core_methods.h"
#include "focus/window_guard.h"
#include "pasteboard/named_pasteboards.h"
#include "pasteboard/pasteboard_methods.h"
#include "windows/window_methods.h"

namespace tavren {
namespace {

MethodRow plain(std::string_view name, MethodHandler handler) {
  return MethodRow{.name = name, .handler = handler};
}

MethodRow forApp(std::string_view name, AppMethodHandler handler, int noAppCode) {
  return MethodRow{.name = name, .appHandler = handler, .noAppCode = noAppCode};
}

const auto kCatalogue = std::to_array<MethodRow>({
    plain("appIdentity", &appIdentityMethod),
    forApp("appWindows", &appWindowsMethod, 8),
    forApp("axTree", &axTreeMethod, 11),
    plain("captureWindow",
          [](const Json& params, Service& service) {
            return captureWindowRequest(params, service.platform);
          }),
    plain("listRunningApps", &listRunningAppsMethod),
    plain("pasteboardRestore",
          [](const Json& params, Service& service) {
            return pasteboardRestoreMethod(params, service.platform.pasteboard(),
                                           namedPasteboardDirectory());
          }),
    plain("pasteboardSnapshot",
          [](const Json& params, Service& service) {
            return pasteboardSnapshotMethod(params, service.platform.pasteboard(),
                                            namedPasteboardDirectory());
          }),
    plain("ping", &pingMethod),
    forApp("restoreAppWindows", &restoreAppWindowsMethod, 9),
    plain("windowCatalog", &windowCatalogMethod),
    forApp("windowServerWindows", &windowServerWindowsMethod, 10),
});

// The acting methods whose observed window is checked before anything else runs, ahead of the
// catalogue lookup, so that they are guarded whether or not their row is in the catalogue yet.
constexpr std::string_view kGuardedMethods[] = {"performAXAction", "postKey", "postMouse",
                                                "postScroll", "setAXValue"};

bool isGuardedMethod(std::string_view method) {
  return std::find(std::begin(kGuardedMethods), std::end(kGuardedMethods), method) !=
         std::end(kGuardedMethods);
}

// Runs the row's handler, resolving the application first for rows that name one.
Outcome runRow(const MethodRow& row, const Json& params, Service& service) {
  if (row.appHandler == nullptr) return row.handler(params, service);
  AppResolution resolved = appFromParams(params, service.platform.workspace());
  if (auto* error = std::get_if<ServiceError>(&resolved)) return *error;
  const auto& app = std::get<std::optional<AppInfo>>(resolved);
  if (!app) return computerUseError(row.noAppCode, "No matching running app");
  return row.appHandler(*app, params, service);
}


}  // namespace

std::span<const MethodRow> methodCatalogue() { return kCatalogue; }

const MethodRow* findMethod(std::string_view name) {
  auto it = std::lower_bound(kCatalogue.begin(), kCatalogue.end(), name,
                             [](const MethodRow& row, std::string_view n) { return row.name < n; });
  return it != kCatalogue.end() && it->name == name ? &*it : nullptr;
}

bool runsOnRemoteInputQueue(std::string_view method) { return method == "remoteDesktopInput"; }

Outcome handle(Service& service, const Json& request) {
  std::string method;
  if (auto it = request.find("method"); it != request.end() && it->is_string()) {
    method = it->get<std::string>();
  }
  static const Json kNoParams = Json::object();
  const Json* params = &kNoParams;
  if (auto it = request.find("params"); it != request.end() && it->is_object()) params = &*it;

  const MethodRow* row = findMethod(method);
  if (isGuardedMethod(method) && !observedWindowMatches(*params, service.platform.windowServer())) {
    return staleWindowResult();
  }
  if (row == nullptr) return computerUseError(404, "Unknown method " + method);
  if (row->runOn == RunOn::MainThread) {
    return service.mainLoop.runSync([&] { return runRow(*row, *params, service); });
  }
  return runRow(*row, *params, service);
}

}  // namespace tavren
