#pragma once

#include <xcb/xcb.h>

#include "platform/linux/x11/atoms.h"

namespace tavren::x11 {

class XLink;

// What the X server and the desktop on it offer beyond the core protocol, at the versions the
// backend needs.
struct XExtensions {
  bool xtest = false;          // any XTEST
  bool composite = false;      // Composite >= 0.2 (NameWindowPixmap)
  bool clientIds = false;      // X-Resource >= 1.2 (QueryClientIds)
  bool record = false;         // RECORD
  bool xinput2 = false;        // XInputExtension 2.x
  bool xinput21 = false;       // XInputExtension >= 2.1 (scroll valuators, smooth scrolling)
  bool randrMonitors = false;  // RandR >= 1.5 (GetMonitors)
  bool shm = false;            // MIT-SHM, before its version is asked
  // The EWMH window manager's check window, or none when no such manager runs.
  xcb_window_t wmCheckWindow = XCB_WINDOW_NONE;
};

// Asks for every extension and version at once, then reads the answers. Nothing is offered
// when the server does not answer in time.
XExtensions probeExtensions(const XLink& link, const AtomTable& atoms);

// The window a running EWMH manager names on the root and on itself, or none.
xcb_window_t findWmCheckWindow(const XLink& link, const AtomTable& atoms);

}  // namespace tavren::x11
