#include "input/interaction_receipts.h"

#include <unistd.h>

#include <cmath>

#include "core/params.h"
#include "focus/focus_control.h"

namespace tavren {

Json interactionSnapshot(EventPoster& poster, Workspace& workspace, Focus& focus) {
  const std::optional<AppInfo> front = frontmostApplication(workspace, focus);
  const Point cursor = poster.pointerLocation().value_or(Point{});
  std::string frontId;
  if (front) frontId = !front->bundleId.empty() ? front->bundleId : front->name;
  return {{"helperPid", static_cast<int64_t>(getpid())},
          {"frontmostPid", front ? front->pid : 0},
          {"frontmostId", frontId},
          {"cursorX", cursor.x},
          {"cursorY", cursor.y}};
}

Json inputReceipt(int32_t targetPid, const Json& before, EventPoster& poster, Workspace& workspace,
                  Focus& focus) {
  Json after = interactionSnapshot(poster, workspace, focus);
  const double beforeFront = number(before, "frontmostPid");
  const double afterFront = number(after, "frontmostPid");
  const bool cursorUnchanged =
      std::fabs(number(before, "cursorX") - number(after, "cursorX")) < 0.01 &&
      std::fabs(number(before, "cursorY") - number(after, "cursorY")) < 0.01;
  const bool alive = targetPid > 0 && workspace.application(targetPid).has_value();
  return {{"posted", true},
          {"targetPid", targetPid},
          {"targetAlive", alive},
          {"frontmostUnchanged", std::trunc(beforeFront) == std::trunc(afterFront)},
          {"cursorUnchanged", cursorUnchanged},
          {"before", before},
          {"after", std::move(after)}};
}

}  // namespace tavren
