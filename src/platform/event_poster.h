#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/geometry.h"

namespace tavren {

// Key and pointer input in the protocol's terms: macOS virtual key codes and modifier masks
// (shift 0x20000, control 0x40000, option 0x80000, command 0x100000). Backends map them.
enum class PointerAction { Move, Down, Up, Drag };

struct PointerEvent {
  PointerAction action = PointerAction::Move;
  int button = 0;       // 0 left, 1 right, 2 middle
  int clickCount = 1;
  Point location;       // global coordinates
  uint64_t flags = 0;
  bool pressFollows = false;  // on a move: a press comes next (backends may prepare the window)
};

struct KeyEvent {
  uint16_t keyCode = 0;
  bool down = true;
  uint64_t flags = 0;
  // Characters to type instead of the key's own, when not empty (UTF-8). A global post types
  // the whole text, each character as one press and release, and ignores keyCode and down.
  std::string text;
};

enum class ScrollUnit { Line, Pixel };

// Positive amounts scroll up (vertical) and left (horizontal), as a wheel turned away from the
// user and a tilt to the left do.
struct ScrollEvent {
  Point location;
  int32_t lines[2] = {0, 0};  // vertical, horizontal, in `unit`
  ScrollUnit unit = ScrollUnit::Line;
  uint64_t flags = 0;
};

// How a scroll addressed to a window reached it.
enum class ScrollDelivery {
  Failed,         // nothing went out: the window is gone, or the server refused the events
  Wheel,          // wheel events the server took for the window
  Accessibility,  // the window's toolkit ignores synthetic wheel events; the scroll bars of
                  // what is under the point were set through accessibility instead
  Ignored,        // wheel events went out, but the window's toolkit is known to ignore them
                  // and nothing under the point could be scrolled otherwise
};

// The window an addressed event lands in: its window-server number and the top-left corner of
// its frame in global coordinates. The event's own location stays global; the backend makes it
// relative to `origin` (and may give a value outside the window's size, or a negative one).
struct EventWindow {
  uint32_t id = 0;
  Point origin;
};

// Posting input: addressed to one window of a process, possibly in the background, or to the
// whole desktop as if from the devices.
class EventPoster {
 public:
  virtual ~EventPoster() = default;
  virtual bool postToWindow(int32_t pid, const EventWindow& target, const PointerEvent& e) = 0;
  virtual bool postToWindow(int32_t pid, const EventWindow& target, const KeyEvent& e) = 0;
  virtual ScrollDelivery postToWindow(int32_t pid, const EventWindow& target,
                                      const ScrollEvent& e) = 0;
  virtual bool postGlobal(const PointerEvent& e) = 0;
  virtual bool postGlobal(const KeyEvent& e) = 0;
  virtual bool postGlobal(const ScrollEvent& e) = 0;
  virtual std::optional<Point> pointerLocation() = 0;
  virtual std::chrono::milliseconds doubleClickInterval() = 0;
  // The process is ending: a text being typed stops at the next character, leaving the desktop
  // as it was found (keymap included), and no more is typed. Safe from any thread.
  virtual void stopTyping() {}
};

}  // namespace tavren
