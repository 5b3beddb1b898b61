#include "platform/fake/fake_focus.h"

namespace tavren {

FakeFocus::FakeFocus(WindowServer& windows, const Json& fixture, bool windowManager)
    : windows_(windows),
      windowManager_(windowManager),
      managerIgnores_(fixture.value("focus", Json::object()).value("managerIgnores", false)) {
  const Json focus = fixture.value("focus", Json::object());
  active_ = focus.value("activeWindow", 0u);
}

ActiveWindow FakeFocus::activeWindow() {
  uint32_t active;
  {
    std::lock_guard lock(mutex_);
    active = active_;
  }
  if (active == 0) return {};
  const std::optional<WindowInfo> window = windows_.window(active);
  return window ? ActiveWindow{active, window->ownerPid} : ActiveWindow{};
}

std::vector<FocusableWindow> FakeFocus::focusableWindows(int32_t pid) {
  std::vector<FocusableWindow> found;
  for (const WindowInfo& w : windows_.windows()) {
    if (w.ownerPid == pid && (w.layer == 0 || w.layer == 3)) found.push_back({w.number, !w.onScreen});
  }
  return found;
}

bool FakeFocus::activate(uint32_t window) {
  if (!windowManager_) return false;
  std::lock_guard lock(mutex_);
  journal_.push_back("activate " + std::to_string(window));
  if (!managerIgnores_) {
    active_ = window;
    ++changes_;
    changed_.notify_all();
  }
  return true;
}

bool FakeFocus::raise(uint32_t window) {
  if (!windowManager_) return false;
  std::lock_guard lock(mutex_);
  journal_.push_back("raise " + std::to_string(window));
  return true;
}

uint64_t FakeFocus::activeWindowChanges() {
  std::lock_guard lock(mutex_);
  return changes_;
}

void FakeFocus::waitForActiveWindowChange(uint64_t seen, Deadline deadline) {
  std::unique_lock lock(mutex_);
  changed_.wait_until(lock, deadline, [&] { return changes_ != seen; });
}

void FakeFocus::setActiveWindow(uint32_t window) {
  std::lock_guard lock(mutex_);
  active_ = window;
  ++changes_;
  changed_.notify_all();
}


std::vector<std::string> FakeFocus::journal() const {
  std::lock_guard lock(mutex_);
  return journal_;
}

}  // namespace tavren
