#include "server/dispatcher.h"

#include <algorithm>
#include <array>

#include "accessibility/element_actions.h"
#include "accessibility/text_selection.h"
#include "accessibility/tree_snapshot.h"
#include "apps/app_methods.h"
#include "apps/app_resolution.h"
#include "capture/capture_request.h"
#include "display/remote_display_methods.h"
#include "focus/app_observers.h"
#include "focus/front_application.h"
#include "focus/window_guard.h"
#include "input/input_posting.h"
#include "input/interaction_receipts.h"
#include "input/remote_desktop_input.h"
#include "pasteboard/named_pasteboards.h"
#include "pasteboard/pasteboard_methods.h"
#include "recording/recording_methods.h"
#include "server/ping_method.h"
#include "windows/app_window_state.h"
#include "windows/window_server_state.h"

namespace tavren {
namespace {

MethodRow plain(std::string_view name, MethodHandler handler, Queue queue = Queue::Requests) {
  return MethodRow{.name = name, .handler = handler, .queue = queue};
}

// Handled on the main loop, while the request's worker waits.
MethodRow onMainThread(std::string_view name, MethodHandler handler) {
  return MethodRow{.name = name, .handler = handler, .runOn = RunOn::MainThread};
}

MethodRow forApp(std::string_view name, AppMethodHandler handler, int noAppCode) {
  return MethodRow{.name = name, .appHandler = handler, .noAppCode = noAppCode};
}

// Input methods take the poster, the window list (targets and the second guard check) and the
// workspace and focus (receipts).
template <Outcome (*method)(const Json&, EventPoster&, WindowServer&, Workspace&, Focus&)>
MethodRow posting(std::string_view name) {
  return plain(name, [](const Json& params, Service& s) {
    Platform& p = s.platform;
    return method(params, p.eventPoster(), p.windowServer(), p.workspace(), p.focus());
  });
}

// The element methods take the accessibility and the window server of the platform.
template <Json (*method)(const AppInfo&, const Json&, Accessibility&, WindowServer&)>
Outcome acting(const AppInfo& app, const Json& params, Service& service) {
  return method(app, params, service.platform.accessibility(), service.platform.windowServer());
}

const auto kCatalogue = std::to_array<MethodRow>({
    plain("appIdentity",
          [](const Json& params, Service& s) {
            return appIdentityMethod(params, s.platform.workspace());
          }),
    forApp("appWindows",
           [](const AppInfo& app, const Json&, Service& s) -> Outcome {
             return appWindowState(app, s.platform.applicationWindows());
           },
           8),
    forApp("axTree",
           [](const AppInfo& app, const Json& params, Service& s) -> Outcome {
             return nativeAXTree(app, params, s.platform.accessibility(),
                                 s.platform.windowServer());
           },
           11),
    plain("bringToFront",
          [](const Json& params, Service& s) {
            return bringToFrontMethod(params, s.platform.workspace(), s.platform.focus(),
                                      s.platform.eventPoster());
          }),
    plain("captureWindow",
          [](const Json& params, Service& s) { return captureWindowRequest(params, s.platform); }),
    plain("frontmostApp",
          [](const Json& params, Service& s) {
            return frontmostAppMethod(params, s.platform.workspace(), s.platform.focus());
          }),
    plain("interactionSnapshot",
          [](const Json&, Service& s) -> Outcome {
            return interactionSnapshot(s.platform.eventPoster(), s.platform.workspace(),
                                       s.platform.focus());
          }),
    plain("listRunningApps",
          [](const Json& params, Service& s) {
            return listRunningAppsMethod(params, s.platform.workspace());
          }),
    plain("pasteboardRestore",
          [](const Json& params, Service& s) {
            return pasteboardRestoreMethod(params, s.platform.pasteboard(),
                                           namedPasteboardDirectory());
          }),
    plain("pasteboardSnapshot",
          [](const Json& params, Service& s) {
            return pasteboardSnapshotMethod(params, s.platform.pasteboard(),
                                            namedPasteboardDirectory());
          }),
    forApp("performAXAction", &acting<performNativeAXAction>, 12),
    plain("ping", [](const Json& params, Service&) { return pingMethod(params); }, Queue::Reader),
    posting<&postKeyMethod>("postKey"),
    posting<&postMouseMethod>("postMouse"),
    posting<&postScrollMethod>("postScroll"),
    plain("remoteDesktopInput",
          [](const Json& params, Service& s) {
            return remoteDesktopInput(params, s.remoteInput, s.platform.eventPoster(),
                                      s.platform.capabilities().syntheticInput);
          },
          Queue::RemoteInput),
    onMainThread("remoteDisplayEnsure",
                 [](const Json& params, Service& s) {
                   return remoteDisplayEnsureMethod(params, s.displayManager);
                 }),
    onMainThread("remoteDisplayRelease",
                 [](const Json& params, Service& s) {
                   return remoteDisplayReleaseMethod(params, s.displayManager);
                 }),
    onMainThread("remoteDisplayStatus",
                 [](const Json&, Service& s) { return remoteDisplayStatusMethod(s.displayManager); }),
    forApp("restoreAppWindows",
           [](const AppInfo& app, const Json&, Service& s) -> Outcome {
             return restoreAppWindows(app, s.platform.applicationWindows());
           },
           9),
    plain("restoreFront",
          [](const Json& params, Service& s) {
            return restoreFrontMethod(params, s.platform.workspace(), s.platform.focus());
          }),
    forApp("selectAXText", &acting<selectNativeAXText>, 13),
    forApp("setAXValue", &acting<setNativeAXValue>, 13),
    MethodRow{.name = "startRecording",
              .handler =
                  [](const Json& params, Service& s) {
                    // The desktop of this moment: the one the service made, while it owns one.
                    Platform& now = s.platform.current();
                    return startRecordingMethod(
                        params, s.recording, now.inputMonitor(),
                        RecordingDesktop{now.workspace(), now.focus(), now.windowServer(),
                                         now.accessibility()});
                  },
              .runOn = RunOn::MainThread},
    MethodRow{.name = "stopRecording",
              .handler = [](const Json& params,
                            Service& s) { return stopRecordingMethod(params, s.recording); },
              .runOn = RunOn::MainThread},
    // Installed on the request's worker, not the main loop: reading the desktop for it may
    // wait on the X server, and the main loop must stay free for its timers meanwhile.
    forApp("watchApp",
           [](const AppInfo& app, const Json&, Service& s) -> Outcome {
             return installAppObserver(
                 app, s.appObservers, s.platform.appWatcher(), s.platform.applicationWindows(),
                 [&s](Json e) { s.output.writeProtocolValue(std::move(e)); });
           },
           18),
    plain("windowCatalog",
          [](const Json&, Service& s) -> Outcome {
            return windowServerCatalog(s.platform.windowServer());
          }),
    forApp("windowServerWindows",
           [](const AppInfo& app, const Json&, Service& s) -> Outcome {
             return windowServerState(app, s.platform.windowServer(), s.platform.workspace());
           },
           10),
});

// The acting methods whose observed window is checked before anything else runs, ahead of the
// catalogue lookup, so that they are guarded whether or not their row is in the catalogue yet.
constexpr std::string_view kGuardedMethods[] = {"performAXAction", "postKey", "postMouse",
                                                "postScroll", "setAXValue"};

bool isGuardedMethod(std::string_view method) {
  return std::find(std::begin(kGuardedMethods), std::end(kGuardedMethods), method) !=
         std::end(kGuardedMethods);
}

// Runs the row's handler, resolving the application first for rows that name one. Resolution
// always runs on the calling worker; only the handler moves to the main loop for rows that
// need it there, so that the main loop never waits on the desktop for somebody else's lookup.
Outcome runRow(const MethodRow& row, const Json& params, Service& service) {
  if (row.appHandler == nullptr) {
    if (row.runOn == RunOn::MainThread) {
      return service.mainLoop.runSync([&] { return row.handler(params, service); });
    }
    return row.handler(params, service);
  }
  AppResolution resolved = appFromParams(params, service.platform.workspace());
  if (auto* error = std::get_if<ServiceError>(&resolved)) return *error;
  const auto& app = std::get<std::optional<AppInfo>>(resolved);
  if (!app) return computerUseError(row.noAppCode, "No matching running app");
  if (row.runOn == RunOn::MainThread) {
    return service.mainLoop.runSync([&] { return row.appHandler(*app, params, service); });
  }
  return row.appHandler(*app, params, service);
}

}  // namespace

std::span<const MethodRow> methodCatalogue() { return kCatalogue; }

const MethodRow* findMethod(std::string_view name) {
  auto it = std::lower_bound(kCatalogue.begin(), kCatalogue.end(), name,
                             [](const MethodRow& row, std::string_view n) { return row.name < n; });
  return it != kCatalogue.end() && it->name == name ? &*it : nullptr;
}

Queue queueFor(std::string_view method) {
  if (const MethodRow* row = findMethod(method)) return row->queue;
  return isGuardedMethod(method) ? Queue::Requests : Queue::Reader;
}

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
  return runRow(*row, *params, service);
}

}  // namespace tavren
