#include "platform/fake/fake_app_watcher.h"

namespace tavren {

WatchStart FakeAppWatcher::watch(int32_t pid, WindowChangeListener listener) {
  int64_t windows = 0;
  for (const WindowInfo& w : windows_.windows()) {
    if (w.ownerPid == pid && w.layer == 0) ++windows;
  }
  std::lock_guard lock(mutex_);
  ++calls_[pid];
  if (failure_ != 0) return WatchStart{.code = failure_};
  listeners_.try_emplace(pid, std::move(listener));
  return WatchStart{.watching = true, .windows = windows};
}

bool FakeAppWatcher::report(const WindowChange& change) {
  WindowChangeListener listener;
  {
    std::lock_guard lock(mutex_);
    auto it = listeners_.find(change.pid);
    if (it == listeners_.end()) return false;
    listener = it->second;
  }
  listener(change);
  return true;
}

void FakeAppWatcher::failWith(AccessibilityError code) {
  std::lock_guard lock(mutex_);
  failure_ = code;
}

int FakeAppWatcher::watchCalls(int32_t pid) const {
  std::lock_guard lock(mutex_);
  auto it = calls_.find(pid);
  return it == calls_.end() ? 0 : it->second;
}

}  // namespace tavren
