#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/linux/x11/window_facts.h"
#include "platform/linux/x11/x_connection.h"
#include "platform/window_server.h"

namespace tavren::x11 {

// A window as the window list shows it, with what the workspace also needs to know.
struct ListedWindow {
  WindowFacts facts;     // of the application's own window, never of a window-manager frame
  int32_t pid = 0;       // 0 when unknown
  bool managed = false;  // a client top-level of the window manager, not a pop-up
  int32_t layer = 0;
};

// A listing handed out with a window list, so that the workspace can name the front
// application from the same reading. `x` tells which connection read it.
struct ListedWindowsRecord final : WindowListingRecord {
  ListedWindowsRecord(const XConnection* x, std::vector<ListedWindow> windows)
      : x(x), windows(std::move(windows)) {}
  const XConnection* x;
  std::vector<ListedWindow> windows;
};

// Every application window, front to back: client top-levels (through their window-manager
// frames), mapped override-redirect pop-ups, then managed clients found nowhere in the tree.
// About five round trips to the server whatever the number of windows.
std::vector<ListedWindow> listWindows(const XConnection& x);

// The same record for one window, or none when listWindows would not list it. One round trip.
std::optional<ListedWindow> describeWindow(const XConnection& x, xcb_window_t id);

}  // namespace tavren::x11
