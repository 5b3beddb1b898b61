#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/application_windows.h"
#include "platform/geometry.h"
#include "platform/linux/windows/accessible_windows.h"

namespace tavren::appwindows {

// An X window of the application's process, as the window list shows it.
struct ClientWindow {
  uint32_t id = 0;
  std::string title;
  std::optional<Rect> bounds;  // the client's own rectangle, root coordinates
  std::optional<Rect> frame;   // the same grown by the window manager's frame, when it has one
  bool managed = false;        // a client of the window manager, not a pop-up
  bool iconic = false;         // minimized by the window manager
};

// Grows a client rectangle by _NET_FRAME_EXTENTS (left, right, top, bottom).
Rect withFrameExtents(const Rect& client, uint32_t left, uint32_t right, uint32_t top,
                      uint32_t bottom);

// For each accessible window, the index of the X window that shows it, or none. The toolkit names
// no X id, so the pair is found by what both sides tell: both belong to the one process; then
// the accessible extents equal the client's rectangle or its frame (toolkits report either);
// then the sizes agree (a minimized window may report no position); then the titles. Each X
// window shows at most one accessible window. When exactly one window is left unpaired on each
// side, the process alone pairs them.
std::vector<std::optional<size_t>> matchAccessibleWindows(std::span<const AccessibleWindow> windows,
                                                          std::span<const ClientWindow> clients);

// An accessible window ready for the protocol, with the X window it was paired with (0: none).
struct PairedWindow {
  AppWindowRecord record;
  uint32_t xWindow = 0;
};

// The records of the accessible windows. A paired window takes its frame and its minimized state
// from the X server, so that both views of a window report the same numbers (the client's
// rectangle, which the window list and the window guard use) and the window manager's word on
// minimizing, which the toolkit learns only later; its title falls back to the X title when the
// toolkit has no name for it. Focus is the toolkit's: the first window in the active state.
std::vector<PairedWindow> pairedWindows(std::span<const AccessibleWindow> windows,
                                        std::span<const ClientWindow> clients);

// Hidden, in X terms: the process has managed windows and every one of them is minimized.
bool everyWindowMinimized(std::span<const ClientWindow> clients);

}  // namespace tavren::appwindows
