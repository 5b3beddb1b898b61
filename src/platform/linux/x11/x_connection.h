#pragma once

#include <xcb/xcb.h>

#include <memory>

#include "platform/linux/x11/atoms.h"
#include "platform/linux/x11/x_extensions.h"

namespace tavren::x11 {

// The process's one connection to the X server. XCB is thread-safe: any thread may send
// requests and wait for their replies on it at the same time. Atoms and extension support are
// learnt once, when it opens, and never change.
class XConnection {
 public:
  // Connects to $DISPLAY; nothing when it is unset or the server cannot be reached.
  static std::unique_ptr<XConnection> open();
  ~XConnection();
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  xcb_connection_t* get() const { return connection_; }
  xcb_window_t root() const { return root_; }
  int screenNumber() const { return screenNumber_; }
  const AtomTable& atoms() const { return atoms_; }
  xcb_atom_t atom(Atom a) const { return atoms_[a]; }
  const XExtensions& extensions() const { return extensions_; }
  // The X resource id bits that name a client (as opposed to a resource of that client).
  uint32_t clientMask() const { return clientMask_; }
  // False once the server went away; every request then fails quickly.
  bool alive() const { return xcb_connection_has_error(connection_) == 0; }

 private:
  XConnection(xcb_connection_t* connection, int screenNumber);

  xcb_connection_t* connection_;
  int screenNumber_;
  xcb_window_t root_ = XCB_WINDOW_NONE;
  uint32_t clientMask_ = 0;
  AtomTable atoms_;
  XExtensions extensions_;
};

}  // namespace tavren::x11
