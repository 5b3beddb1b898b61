#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/geometry.h"
#include "platform/linux/x11/atoms.h"
#include "platform/linux/x11/x_connection.h"

namespace tavren::x11 {

// ICCCM WM_STATE values.
inline constexpr uint32_t kWithdrawnState = 0;
inline constexpr uint32_t kNormalState = 1;
inline constexpr uint32_t kIconicState = 3;

// What the server says about one window.
struct WindowFacts {
  xcb_window_t id = XCB_WINDOW_NONE;
  bool exists = false;  // false when the window was gone by the time it was asked about
  bool overrideRedirect = false;
  bool viewable = false;
  bool mapped = false;  // mapped itself, whether or not an ancestor is (viewable needs both)
  bool inputOnly = false;
  std::optional<uint32_t> wmState;  // absent when the window carries no WM_STATE
  std::string title;
  std::string wmInstance;
  std::string wmClass;
  std::string gtkApplicationId;
  std::string clientMachine;
  int32_t netWmPid = 0;     // _NET_WM_PID, 0 when absent
  std::vector<Atom> types;  // the known entries of _NET_WM_WINDOW_TYPE, in order
  bool keptAbove = false;
  bool hidden = false;
  std::optional<Rect> bounds;  // in root coordinates
};

// Sends every request for every window before reading the first reply, so the whole batch
// costs about one round trip to the server.
std::vector<WindowFacts> fetchWindowFacts(const XConnection& x, std::span<const xcb_window_t> ids);

// Whether the window is a normal top-level of an application in EWMH terms (type NORMAL,
// or no type the backend knows).
bool isNormalWindow(const WindowFacts& facts);

}  // namespace tavren::x11
