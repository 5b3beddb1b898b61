#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "platform/linux/workspace/desktop_entries.h"
#include "platform/linux/x11/window_list.h"

namespace tavren::workspace {

// What a process's windows say about it.
struct WindowClues {
  std::string gtkApplicationId;
  std::string wmInstance;
  std::string wmClass;
  bool ownsClient = false;        // a managed top-level
  bool ownsNormalClient = false;  // a managed top-level of the normal type
};

// The clues of every pid that owns a listed window. Each field comes from the lowest-numbered
// window that has it, managed windows before pop-ups, so the answer does not change as the
// windows are restacked.
std::map<int32_t, WindowClues> windowCluesByPid(std::span<const x11::ListedWindow> windows);

struct AppIdentity {
  std::string bundleId;
  std::string name;
};

// The identity of an application: bundle id from its GTK application id, else from its
// desktop entry; name from its desktop entry, else its accessibility name, else its WM_CLASS
// class, else its command name.
AppIdentity identifyApp(const WindowClues& windows, const std::string& executablePath,
                        const std::string& atspiName, const std::string& comm,
                        std::span<const DesktopEntry> entries);

}  // namespace tavren::workspace
