#pragma once

#include <map>
#include <mutex>

#include "platform/app_watcher.h"
#include "platform/window_server.h"

namespace tavren {

// Watching on the in-memory desktop. Tests report the changes the desktop would send; they
// reach the listener of their pid, if it is watched. An application's windows are those of
// layer 0 in the desktop's window list.
class FakeAppWatcher final : public AppWatcher {
 public:
  explicit FakeAppWatcher(WindowServer& windows) : windows_(windows) {}

  WatchStart watch(int32_t pid, WindowChangeListener listener) override;

  // Sends a change as the desktop would; false when nobody watches its pid.
  bool report(const WindowChange& change);
  // Makes watch() fail with this code from now on; 0 lets it succeed again.
  void failWith(AccessibilityError code);
  // How many times watch() was asked for this pid.
  int watchCalls(int32_t pid) const;

 private:
  WindowServer& windows_;
  mutable std::mutex mutex_;
  std::map<int32_t, WindowChangeListener> listeners_;
  std::map<int32_t, int> calls_;
  AccessibilityError failure_ = 0;
};

}  // namespace tavren
