#include "platform/linux/x11/window_rules.h"

#include <algorithm>

namespace tavren::x11 {

void ManagerState::setClientList(std::vector<xcb_window_t> list) {
  clientList = std::move(list);
  clients = std::unordered_set<xcb_window_t>(clientList.begin(), clientList.end());
}

Slot classifyTopLevel(const ManagerState& manager, const TopLevelFacts& top) {
  Slot slot;
  if (!top.exists) return slot;
  if (top.carriesState || manager.isClient(top.id)) {
    slot.windows = {top.id};
    slot.managed = true;
    return slot;
  }
  if (top.overrideRedirect) {
    // The manager's own check window is mapped override-redirect too, but is no one's pop-up.
    if (top.viewable && !top.inputOnly && top.id != manager.wmCheck) slot.windows = {top.id};
    return slot;
  }
  std::vector<xcb_window_t> children(top.children.rbegin(), top.children.rend());
  for (xcb_window_t child : children) {
    if (manager.isClient(child)) slot.windows.push_back(child);
  }
  if (!slot.windows.empty()) {
    slot.managed = true;
  } else if (!manager.running()) {
    if (top.viewable && !top.inputOnly) {
      slot.windows = {top.id};
      slot.needsClass = true;
    }
  } else if (!top.inputOnly) {
    slot.frontier = std::move(children);
  }
  return slot;
}

Listing listingOf(const ManagerState& manager, const WindowFacts& f, bool topLevel) {
  if (!f.exists) return Listing::None;
  if ((f.wmState && *f.wmState != kWithdrawnState) || manager.isClient(f.id)) {
    return Listing::Client;
  }
  if (!topLevel || !f.viewable || f.inputOnly) return Listing::None;
  if (f.overrideRedirect) return f.id != manager.wmCheck ? Listing::Popup : Listing::None;
  if (!manager.running() && namesItsClass(f)) return Listing::Client;
  return Listing::None;
}

bool namesItsClass(const WindowFacts& facts) {
  return !facts.wmClass.empty() || !facts.wmInstance.empty();
}

}  // namespace tavren::x11
