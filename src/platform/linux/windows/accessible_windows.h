#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/geometry.h"
#include "platform/linux/atspi/atspi_roles.h"

namespace tavren::appwindows {

// A window among an application's accessible children.
struct AccessibleWindow {
  std::string name;
  uint32_t role = 0;    // AtspiRole
  uint64_t states = 0;  // bit n set for AtspiStateType n
  std::optional<Point> position;  // screen coordinates; absent when the toolkit has none
  std::optional<Size> size;

  bool has(uint32_t state) const { return atspi::hasState(states, state); }
};

// A window's role in the protocol's vocabulary ("AXWindow"), by the role table the tree reader
// uses, so that both name windows alike.
std::string protocolWindowRole(uint32_t role, uint64_t states);

// The windows (children of a window role, as the tree reader counts them) among the accessible
// children of every application root the process registered, in child order. Two batches of calls, each bounded by the call timeout; empty when the bus or
// the application does not answer.
std::vector<AccessibleWindow> accessibleWindows(GDBusConnection* bus, int32_t pid);

// Extents as GetExtents returns them: a position of INT32_MIN means the window is not drawable
// (GTK answers so for a window it has not shown), and a negative size means none.
void setExtents(AccessibleWindow& window, int32_t x, int32_t y, int32_t width, int32_t height);

}  // namespace tavren::appwindows
