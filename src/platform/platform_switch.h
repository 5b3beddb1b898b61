#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/platform.h"

namespace tavren {

// The platform the service works on, which changes when the service starts serving a display
// of its own and when it lets go of it. Every call goes to the platform current at that moment;
// a request that has already been handed an interface keeps using it to its end. Platforms that
// are no longer current are therefore kept, idle, until this object is destroyed: a handful per
// process, one for each display it made.
class PlatformSwitch final : public Platform {
 public:
  explicit PlatformSwitch(Platform& initial) : initial_(initial), current_(&initial) {}

  // Makes `next` the platform of every later call.
  void install(std::unique_ptr<Platform> next);
  // Makes the platform this switch was created with current again.
  void restoreInitial();
  Platform& current() const { return *current_.load(std::memory_order_acquire); }

  const Capabilities& capabilities() const override { return current().capabilities(); }
  Workspace& workspace() override { return current().workspace(); }
  WindowServer& windowServer() override { return current().windowServer(); }
  Accessibility& accessibility() override { return current().accessibility(); }
  ApplicationWindows& applicationWindows() override { return current().applicationWindows(); }
  Capture& capture() override { return current().capture(); }
  Focus& focus() override { return current().focus(); }
  EventPoster& eventPoster() override { return current().eventPoster(); }
  Pasteboard& pasteboard() override { return current().pasteboard(); }
  AppWatcher& appWatcher() override { return current().appWatcher(); }
  InputMonitor& inputMonitor() override { return current().inputMonitor(); }

 private:
  Platform& initial_;
  std::atomic<Platform*> current_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Platform>> kept_;  // every platform installed so far
};

}  // namespace tavren
