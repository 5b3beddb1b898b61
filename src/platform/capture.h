#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

namespace tavren {

// One window's own pixels, as the window draws them, whatever covers it on screen.
struct CapturedPixels {
  int width = 0;
  int height = 0;
  double pixelsPerPoint = 1;  // the display's density: 1 on X11
  // width * height pixels, rows top to bottom, each 0xAARRGGBB in native byte order with
  // premultiplied alpha: the layout X servers, pixman and cairo share, so no conversion is
  // needed on the common path. An opaque window has alpha 0xFF everywhere.
  std::vector<uint32_t> argb;
};

// The window has no pixels to give: no such window, gone, or not shown (minimized, hidden).
struct WindowUnavailable {};

// The desktop failed to read pixels it should have had. Described in the desktop's own terms
// and passed on to the host as it is.
struct CaptureFailure {
  std::string domain;
  int code = 0;
  std::string message;
};

using WindowPixels = std::variant<CapturedPixels, WindowUnavailable, CaptureFailure>;

// Reading window pixels. Safe to call from any thread.
class Capture {
 public:
  virtual ~Capture() = default;
  // Whether this desktop can give window pixels at all.
  virtual bool available() const = 0;
  // The window's pixels, read now; blocks the calling thread while it reads.
  virtual WindowPixels windowPixels(uint32_t window) = 0;
  // Runs `task` later on one of the desktop's capture threads, never on the caller's. Only a few
  // run at once, because each may hold a whole window's pixels; the others wait their turn in
  // the order they came. False, with the task dropped unrun, when no thread could take it.
  virtual bool startTask(std::function<void()> task) = 0;
};

}  // namespace tavren
