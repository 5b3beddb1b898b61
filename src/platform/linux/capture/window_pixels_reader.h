#pragma once

#include <xcb/xcb.h>

#include <map>

#include "platform/capture.h"
#include "platform/linux/capture/pixel_layout.h"
#include "platform/linux/capture/shm_segment.h"
#include "platform/linux/x11/x_connection.h"

namespace tavren::x11 {

// The pixel layouts the screen offers, by depth; depths the backend cannot convert are absent.
struct ScreenFormats {
  std::map<uint8_t, PixelLayout> byDepth;
  uint8_t rootDepth = 0;
};
ScreenFormats screenFormats(const XConnection& x);

// How pixels can be read on this display.
struct ReadMethod {
  // The window's own pixmap through Composite: the whole window, covered or not. Without it,
  // what the screen shows where the window is.
  bool windowPixmaps = false;
  // Shared-memory images, while usable; else plain images through the socket.
  ShmSegments* sharedMemory = nullptr;
};

// The pixels of the inside of one window (its border and any window-manager frame excluded).
// Unavailable when the window does not exist, is not viewable, or goes away while it is read.
WindowPixels readWindowPixels(const XConnection& x, const ScreenFormats& formats,
                              const ReadMethod& method, xcb_window_t window);

}  // namespace tavren::x11
