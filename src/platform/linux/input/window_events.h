#pragma once

#include <cstdint>

#include "platform/event_poster.h"
#include "platform/linux/x11/x_connection.h"

namespace tavren::input {

// Input sent straight to one window with SendEvent: the window's client gets the events as if
// the pointer were over it and the keyboard focused on it, while the real pointer, the stacking
// order and the input focus stay as they are. Each returns false when the server refused
// (the window is gone) or the event cannot be expressed (a key this keyboard lacks); events of
// a sequence already accepted stay sent.

// A pointer move sends EnterNotify then MotionNotify (toolkits ignore motion from a pointer
// they do not believe inside), and FocusIn when a press follows and the window does not hold
// the real focus; a press and a release send the button events, the release a FocusOut in the
// same case; a drag sends motion with the left button held. Coordinates are made relative to
// the window's origin.
bool sendPointerToWindow(const x11::XConnection& x, const EventWindow& window,
                         const PointerEvent& e, uint32_t time);

// Takes back focus lent by a move that a press was to follow, when the press did not come.
bool returnLentFocus(const x11::XConnection& x, const EventWindow& window);

// One key press or release of a virtual key code, with the modifier flags as the event's state.
bool sendKeyToWindow(const x11::XConnection& x, const EventWindow& window, const KeyEvent& e,
                     uint32_t time);

// Wheel lines as presses and releases of buttons 4 and 5 (vertical) and 6 and 7 (horizontal),
// after EnterNotify and MotionNotify at the point. At most kMaxScrollClicks per axis.
bool sendScrollToWindow(const x11::XConnection& x, const EventWindow& window,
                        const ScrollEvent& e, uint32_t time);

// A wheel click scrolls a toolkit by a line or more; beyond this many per request the
// application would only be flooded.
inline constexpr int32_t kMaxScrollClicks = 100;

// The X server time now, for a server on this machine: Xorg and Xvfb count milliseconds of
// CLOCK_MONOTONIC, wrapping at 2^32.
uint32_t localServerTime();

// The time stamp of the next pointer event. Toolkits count a press as the next click of a
// multi-click when it comes within their double-click time of the previous press (GTK: a triple
// within twice that time of the press before), so the first press of a new sequence must come
// later than both; the caller waits until the server's clock reaches a stamp ahead of it, so that
// no event is stamped in the future (the server ignores selection and focus requests made with
// such times). Stamps never go backwards. `last`, `lastPress` and `pressBefore` are the previous
// event's, the last press's and the press before it (0 before any).
uint32_t pointerStamp(uint32_t now, uint32_t last, uint32_t lastPress, uint32_t pressBefore,
                      bool firstClickPress, uint32_t doubleClickMs);

}  // namespace tavren::input
