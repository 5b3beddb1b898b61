#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/x11/x_link.h"

namespace tavren::testing {

// The X server's own word on a client window, and the window manager requests a user (or a
// pager) would make, for integration tests to compare the service against.
class XWindowProbe {
 public:
  struct Frame {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const Frame&) const = default;
  };

  explicit XWindowProbe(const std::string& display);
  ~XWindowProbe();
  XWindowProbe(const XWindowProbe&) = delete;
  XWindowProbe& operator=(const XWindowProbe&) = delete;

  bool connected() const { return connection_ != nullptr; }

  // The managed client window whose _NET_WM_PID is pid; none when there is none. Events of the
  // window it returns are watched from then on.
  std::optional<xcb_window_t> clientOf(pid_t pid);

  // The client's rectangle in root coordinates, as xwininfo reports it; none once it is gone.
  std::optional<Frame> frame(xcb_window_t window);
  bool viewable(xcb_window_t window);
  bool iconic(xcb_window_t window);  // WM_STATE says IconicState

  // _NET_ACTIVE_WINDOW; none when the property names no window.
  xcb_window_t activeWindow();
  // Whether the X input focus is the window or one of its descendants.
  bool focusWithin(xcb_window_t window);
  // _NET_CLIENT_LIST_STACKING: managed clients, bottom to top.
  std::vector<xcb_window_t> stacking();
  // _NET_ACTIVE_WINDOW request as a pager sends it for a user's click.
  void activate(xcb_window_t window);
  // Gives the input focus straight to the window, as a desktop without a manager does.
  void focus(xcb_window_t window);

  // _NET_MOVERESIZE_WINDOW with static gravity: the client itself goes to x, y.
  void moveResize(xcb_window_t window, Frame to);
  // _NET_WM_STATE add _NET_WM_STATE_HIDDEN: the window manager minimizes it.
  void minimize(xcb_window_t window);

  // Until `done` holds, checked again after every event from the server (configure, map, property
  // and destroy notifications of watched windows and of the root's children); false once the
  // timeout has passed.
  bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

 private:
  xcb_atom_t atom(const char* name);
  void clientMessage(xcb_window_t window, xcb_atom_t type, const uint32_t (&data)[5]);

  std::unique_ptr<x11::XLink> link_;
  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = XCB_WINDOW_NONE;
};

}  // namespace tavren::testing
