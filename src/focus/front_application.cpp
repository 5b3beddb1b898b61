#include "focus/front_application.h"

#include <cmath>
#include <optional>

#include "core/params.h"
#include "focus/focus_control.h"

namespace tavren {

namespace {

std::string idOrName(const AppInfo& app) { return app.bundleId.empty() ? app.name : app.bundleId; }
std::string nameOrId(const AppInfo& app) { return app.name.empty() ? app.bundleId : app.name; }

// The pointer, the origin when it cannot be read.
Point pointerOrOrigin(EventPoster& poster) { return poster.pointerLocation().value_or(Point{}); }

// A pid parameter; absent when it does not fit a pid, so that such a value names no process.
std::optional<int32_t> pidParam(const Json& params, std::string_view key) {
  return truncatedInteger<int32_t>(number(params, key));
}

}  // namespace

Outcome frontmostAppMethod(const Json&, Workspace& workspace, Focus& focus) {
  const std::optional<AppInfo> app = frontmostApplication(workspace, focus);
  if (!app) return Json{{"pid", 0}, {"bundleId", ""}, {"name", ""}};
  return Json{{"pid", app->pid}, {"bundleId", app->bundleId}, {"name", app->name}};
}

Outcome bringToFrontMethod(const Json& params, Workspace& workspace, Focus& focus,
                           EventPoster& poster) {
  const int32_t pid = pidParam(params, "pid").value_or(0);
  // A number that is no window number names no window of the target: the switch then goes
  // through the target's own front window and nothing is raised.
  const std::optional<uint32_t> window = truncatedInteger<uint32_t>(number(params, "windowId"));
  const uint32_t windowId = window.value_or(0);
  const bool raise = number(params, "raise") != 0;
  if (pid < 1 || !workspace.application(pid)) {
    return computerUseError(8, "Target process is not running");
  }

  const int32_t frontPid = frontProcessPid(focus);
  const Point before = pointerOrOrigin(poster);
  const bool wasFront = frontPid == pid;
  const std::optional<AppInfo> previous =
      !wasFront && frontPid > 0 ? workspace.application(frontPid) : std::nullopt;
  bool switched = false, raised = false, front = false;
  if (wasFront) {
    raised = raise && window && raiseWindow(focus, pid, windowId);
    front = waitUntilFront(focus, pid, kFrontWait);
  } else {
    const bool accepted = setFront(focus, pid, windowId);
    raised = raise && window && raiseWindow(focus, pid, windowId);
    switched = accepted;
    front = accepted && waitUntilFront(focus, pid, kFrontWait);
  }
  const Point after = pointerOrOrigin(poster);

  return Json{
      {"front", front},
      {"wasFront", wasFront},
      {"switched", switched},
      {"raised", raised},
      {"previousPid", previous ? previous->pid : 0},
      {"previousId", previous ? idOrName(*previous) : ""},
      {"previousName", previous ? nameOrId(*previous) : ""},
      {"cursorUnchanged",
       std::fabs(after.x - before.x) < 0.5 && std::fabs(after.y - before.y) < 0.5},
  };
}

Outcome restoreFrontMethod(const Json& params, Workspace& workspace, Focus& focus) {
  const int32_t pid = pidParam(params, "pid").value_or(0);
  const std::optional<int32_t> targetPid = pidParam(params, "targetPid");
  if (pid < 1 || !workspace.application(pid)) {
    return Json{{"restored", false}, {"reason", "previous app is gone"}};
  }
  // A targetPid that fits no pid cannot be front: the front is not taken back on its word.
  if (!targetPid || (*targetPid >= 1 && frontProcessPid(focus) != *targetPid)) {
    return Json{{"restored", false}, {"reason", "user moved on"}};
  }
  if (!setFront(focus, pid, 0)) {
    return Json{{"restored", false}, {"reason", "front switch refused"}};
  }
  return Json{{"restored", waitUntilFront(focus, pid, kFrontWait)}};
}

}  // namespace tavren
