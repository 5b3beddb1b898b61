#include "platform/linux/watch/window_change_rules.h"

namespace tavren::watch {

namespace {

WindowChange ofWindow(const WindowState& w, const char* notification) {
  return WindowChange{.pid = w.pid, .notification = notification, .title = w.title};
}

WindowChange ofApplication(int32_t pid, const char* notification) {
  return WindowChange{.pid = pid, .notification = notification, .title = {}, .ofApplication = true};
}

bool samePosition(const std::optional<Rect>& a, const std::optional<Rect>& b) {
  if (!a || !b) return a.has_value() == b.has_value();
  return a->x == b->x && a->y == b->y;
}

bool sameSize(const std::optional<Rect>& a, const std::optional<Rect>& b) {
  if (!a || !b) return a.has_value() == b.has_value();
  return a->width == b->width && a->height == b->height;
}

// The application's focused window becomes `window` when it is one of its own and another
// than before.
void focusChange(WatchedWindows& watched, uint32_t window, std::vector<WindowChange>& changes) {
  auto it = watched.windows.find(window);
  if (it == watched.windows.end()) return;
  auto [focused, added] = watched.focused.try_emplace(it->second.pid, window);
  if (!added && focused->second == window) return;
  focused->second = window;
  changes.push_back(ofWindow(it->second, kFocusedWindowChanged));
  changes.push_back(ofWindow(it->second, kMainWindowChanged));
}

}  // namespace

bool applicationHidden(const WatchedWindows& watched, int32_t pid) {
  bool any = false;
  for (const auto& [id, w] : watched.windows) {
    if (w.pid != pid) continue;
    if (!w.minimized) return false;
    any = true;
  }
  return any;
}

void trackWindow(WatchedWindows& watched, WindowState state) {
  const uint32_t id = state.window;
  const int32_t pid = state.pid;
  watched.windows[id] = std::move(state);
  if (watched.active == id) watched.focused[pid] = id;
}

std::vector<WindowChange> windowCreated(WatchedWindows& watched, WindowState state) {
  std::vector<WindowChange> changes;
  const uint32_t id = state.window;
  if (watched.windows.contains(id)) return windowUpdated(watched, state);
  changes.push_back(ofWindow(state, kWindowCreated));
  watched.windows[id] = std::move(state);
  // The manager may have made it active before it listed it.
  if (watched.active == id) focusChange(watched, id, changes);
  return changes;
}

std::vector<WindowChange> windowUpdated(WatchedWindows& watched, const WindowState& now) {
  std::vector<WindowChange> changes;
  auto it = watched.windows.find(now.window);
  if (it == watched.windows.end()) return changes;
  WindowState& before = it->second;
  const bool wasHidden = applicationHidden(watched, before.pid);
  if (before.title != now.title) changes.push_back(ofWindow(now, kTitleChanged));
  // A window's frame moves while it is minimized only for the manager's bookkeeping.
  if (!now.minimized && !before.minimized) {
    if (!samePosition(before.bounds, now.bounds)) changes.push_back(ofWindow(now, kMoved));
    if (!sameSize(before.bounds, now.bounds)) changes.push_back(ofWindow(now, kResized));
  }
  const bool minimizedChanged = before.minimized != now.minimized;
  before = now;
  if (!minimizedChanged) return changes;
  const bool isHidden = applicationHidden(watched, now.pid);
  if (now.minimized) {
    changes.push_back(ofWindow(now, kMiniaturized));
    if (isHidden && !wasHidden) changes.push_back(ofApplication(now.pid, kApplicationHidden));
  } else {
    if (wasHidden && !isHidden) changes.push_back(ofApplication(now.pid, kApplicationShown));
    changes.push_back(ofWindow(now, kDeminiaturized));
  }
  return changes;
}

std::vector<WindowChange> windowGone(WatchedWindows& watched, uint32_t window) {
  auto it = watched.windows.find(window);
  if (it == watched.windows.end()) return {};
  // A destroyed window has no title left to read.
  WindowChange gone{.pid = it->second.pid, .notification = kElementDestroyed, .title = {}};
  if (auto f = watched.focused.find(it->second.pid);
      f != watched.focused.end() && f->second == window) {
    watched.focused.erase(f);
  }
  watched.windows.erase(it);
  return {gone};
}

std::vector<WindowChange> activeWindowChanged(WatchedWindows& watched, uint32_t active) {
  std::vector<WindowChange> changes;
  watched.active = active;
  focusChange(watched, active, changes);
  return changes;
}

}  // namespace tavren::watch
