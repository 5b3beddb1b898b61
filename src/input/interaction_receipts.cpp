#include "input/interaction_receipts.h"

#include <unistd.h>

#include <cmath>

namespace tavren {
namespace {

int32_t frontmostPid(const DesktopState& s) {
  return s.frontApp ? s.frontApp->pid : 0;
}

}  // namespace

DesktopState readDesktopState(EventPoster& poster, Workspace& workspace, Focus& focus,
                              const WindowListing* listing, const DesktopState* earlier) {
  DesktopState state;
  state.front = focus.activeWindow();
  if (state.front.pid > 0) {
    if (earlier && earlier->front.window == state.front.window &&
        earlier->front.pid == state.front.pid) {
      state.frontApp = earlier->frontApp;
    } else if (listing) {
      state.frontApp = workspace.applicationWithListing(state.front.pid, *listing);
    } else {
      state.frontApp = workspace.application(state.front.pid);
    }
  }
  state.cursor = poster.pointerLocation().value_or(Point{});
  return state;
}

Json snapshotJson(const DesktopState& state) {
  std::string frontId;
  if (state.frontApp) {
    frontId = !state.frontApp->bundleId.empty() ? state.frontApp->bundleId : state.frontApp->name;
  }
  return {{"helperPid", static_cast<int64_t>(getpid())},
          {"frontmostPid", frontmostPid(state)},
          {"frontmostId", std::move(frontId)},
          {"cursorX", state.cursor.x},
          {"cursorY", state.cursor.y}};
}

Json interactionSnapshot(EventPoster& poster, Workspace& workspace, Focus& focus) {
  return snapshotJson(readDesktopState(poster, workspace, focus));
}

Json inputReceipt(const PostedTo& target, const DesktopState& before, EventPoster& poster,
                  Workspace& workspace, WindowServer& windows, Focus& focus) {
  const DesktopState after = readDesktopState(poster, workspace, focus, nullptr, &before);
  const bool cursorUnchanged = std::fabs(before.cursor.x - after.cursor.x) < 0.01 &&
                               std::fabs(before.cursor.y - after.cursor.y) < 0.01;
  auto ownsWindow = [&] {
    if (target.window == 0) return false;
    const std::optional<WindowInfo> w = windows.unnamedWindow(target.window);
    return w && w->ownerPid == target.pid;
  };
  const bool alive = target.pid > 0 && (frontmostPid(after) == target.pid || ownsWindow() ||
                                        workspace.running(target.pid));
  return {{"posted", true},
          {"targetPid", target.pid},
          {"targetAlive", alive},
          {"frontmostUnchanged", frontmostPid(before) == frontmostPid(after)},
          {"cursorUnchanged", cursorUnchanged},
          {"before", snapshotJson(before)},
          {"after", snapshotJson(after)}};
}

}  // namespace tavren
