#include "platform/platform_switch.h"

namespace tavren {

void PlatformSwitch::install(std::unique_ptr<Platform> next) {
  if (!next) return;
  std::lock_guard lock(mutex_);
  kept_.push_back(std::move(next));
  current_.store(kept_.back().get(), std::memory_order_release);
}

void PlatformSwitch::restoreInitial() {
  std::lock_guard lock(mutex_);
  current_.store(&initial_, std::memory_order_release);
}

}  // namespace tavren
