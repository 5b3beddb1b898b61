#include "platform/linux/workspace/app_identity.h"

#include <algorithm>
#include <vector>

namespace tavren::workspace {

std::map<int32_t, WindowClues> windowCluesByPid(std::span<const x11::ListedWindow> windows) {
  std::vector<const x11::ListedWindow*> ordered;
  for (const auto& window : windows) {
    if (window.pid > 0) ordered.push_back(&window);
  }
  std::sort(ordered.begin(), ordered.end(), [](const auto* a, const auto* b) {
    if (a->managed != b->managed) return a->managed;
    return a->facts.id < b->facts.id;
  });
  std::map<int32_t, WindowClues> clues;
  for (const x11::ListedWindow* window : ordered) {
    WindowClues& c = clues[window->pid];
    const x11::WindowFacts& f = window->facts;
    if (c.gtkApplicationId.empty()) c.gtkApplicationId = f.gtkApplicationId;
    if (c.wmClass.empty() && c.wmInstance.empty()) {
      c.wmInstance = f.wmInstance;
      c.wmClass = f.wmClass;
    }
    c.ownsClient |= window->managed;
    c.ownsNormalClient |= window->managed && x11::isNormalWindow(f);
  }
  return clues;
}

AppIdentity identifyApp(const WindowClues& windows, const std::string& executablePath,
                        const std::string& atspiName, const std::string& comm,
                        std::span<const DesktopEntry> entries) {
  AppClues clues{windows.gtkApplicationId, windows.wmInstance, windows.wmClass, executablePath};
  const DesktopEntry* entry = matchDesktopEntry(entries, clues);
  AppIdentity identity;
  identity.bundleId = !windows.gtkApplicationId.empty() ? windows.gtkApplicationId
                      : entry                           ? entry->id
                                                        : std::string();
  for (const std::string* name :
       {entry ? &entry->name : nullptr, &atspiName, &windows.wmClass, &comm}) {
    if (name && !name->empty()) {
      identity.name = *name;
      break;
    }
  }
  return identity;
}

}  // namespace tavren::workspace
