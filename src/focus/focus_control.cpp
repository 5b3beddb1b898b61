#include "focus/focus_control.h"

#include <algorithm>
#include <vector>

namespace tavren {

int32_t frontProcessPid(Focus& focus) {
  return focus.activeWindow().pid;
}

std::optional<AppInfo> frontmostApplication(Workspace& workspace, Focus& focus) {
  const int32_t pid = frontProcessPid(focus);
  if (pid <= 0) return std::nullopt;
  return workspace.application(pid);
}

bool waitUntilFront(Focus& focus, int32_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + std::max(timeout, timeout.zero());
  for (;;) {
    // Counted before looking, so that a change made between the look and the wait still wakes it.
    const uint64_t seen = focus.activeWindowChanges();
    if (frontProcessPid(focus) == pid) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    focus.waitForActiveWindowChange(seen, deadline);
  }
}

std::optional<uint32_t> windowToActivate(std::span<const FocusableWindow> windows,
                                         uint32_t requested) {
  if (windows.empty()) return std::nullopt;
  if (requested != 0) {
    for (const FocusableWindow& w : windows) {
      if (w.window == requested) return requested;
    }
  }
  // A window of another process is never activated in this one's name.
  for (const FocusableWindow& w : windows) {
    if (!w.minimized) return w.window;
  }
  return windows.front().window;
}

bool setFront(Focus& focus, int32_t pid, uint32_t windowId) {
  if (pid <= 0) return false;
  const std::vector<FocusableWindow> windows = focus.focusableWindows(pid);
  const std::optional<uint32_t> window = windowToActivate(windows, windowId);
  return window && focus.activate(*window);
}

bool raiseWindow(Focus& focus, int32_t pid, uint32_t windowId) {
  if (windowId == 0 || pid <= 0) return false;
  const std::vector<FocusableWindow> windows = focus.focusableWindows(pid);
  const bool owned = std::any_of(windows.begin(), windows.end(),
                                 [&](const FocusableWindow& w) { return w.window == windowId; });
  return owned && focus.raise(windowId);
}

}  // namespace tavren
