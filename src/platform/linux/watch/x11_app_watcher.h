#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "platform/app_watcher.h"
#include "platform/linux/watch/window_change_rules.h"
#include "platform/linux/x11/x_connection.h"
#include "platform/linux/x11/x_link.h"

namespace tavren::watch {

// Watches applications' client windows through the X server: the window manager's client list
// and active window on the root, and on each watched window its structure (configure, destroy)
// and the properties of its title and state. Everything happens on one thread of its own, with
// a connection of its own for the events; facts are read on the process's shared connection.
// The thread sleeps in poll() while nothing changes, and only the watched applications' windows
// send it anything besides the root's two properties.
class X11AppWatcher final : public AppWatcher {
 public:
  explicit X11AppWatcher(const x11::XConnection* x);
  ~X11AppWatcher() override;

  WatchStart watch(int32_t pid, WindowChangeListener listener) override;

  // How long watch() waits for the thread to take the application on.
  static constexpr std::chrono::seconds kWatchBound{5};

 private:
  class Thread;
  // The running thread, started on first use; null when the server cannot be reached.
  Thread* thread();

  const x11::XConnection* x_;
  std::mutex mutex_;
  std::unique_ptr<Thread> thread_;
};

}  // namespace tavren::watch
