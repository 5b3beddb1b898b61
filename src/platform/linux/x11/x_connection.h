#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/linux/x11/atoms.h"
#include "platform/linux/x11/x_extensions.h"
#include "platform/linux/x11/x_link.h"

namespace tavren::x11 {

// The process's one connection to the X server, opened in a thread of its own: a server that
// never answers the set-up (stopped, or a socket nobody serves) must not hold up whoever
// creates it. Atoms and extension support are learnt once, while it opens, and never change.
//
// alive() waits for the opening, at most until kOpenBound after open(); every user asks it
// before anything else, and may use the other accessors in that thread once it said true.
// Replies are read through the link, each with a deadline (see XLink).
class XConnection {
 public:
  using Clock = std::chrono::steady_clock;
  // Connecting, interning the atoms and probing the extensions: a few round trips.
  static constexpr std::chrono::milliseconds kOpenBound{2000};

  // Starts connecting to `display`; nothing when it is empty.
  static std::unique_ptr<XConnection> open(const std::string& display);
  ~XConnection();
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  // True when the connection is open and the server answers; false when it could not be opened
  // (in time), broke, or is taken as stalled.
  bool alive() const;

  // The display this connects to, for the other connections a user opens to the same server.
  const std::string& displayName() const { return display_; }

  const XLink& link() const;
  xcb_connection_t* get() const { return link().get(); }
  xcb_window_t root() const { return link().root(); }
  int screenNumber() const { return link().screenNumber(); }
  const AtomTable& atoms() const;
  xcb_atom_t atom(Atom a) const { return atoms()[a]; }
  const XExtensions& extensions() const;
  // The X resource id bits that name a client (as opposed to a resource of that client).
  uint32_t clientMask() const;

  template <class T, class Cookie>
  Reply<T> reply(T* (*replyOf)(xcb_connection_t*, Cookie, xcb_generic_error_t**), Cookie cookie,
                 Reply<xcb_generic_error_t>* error = nullptr) const {
    return link().reply(replyOf, cookie, error);
  }
  XLink::Checked check(xcb_void_cookie_t cookie) const { return link().check(cookie); }

  struct Opening;  // shared with the thread that opens it

 private:
  explicit XConnection(const std::string& display);

  std::string display_;
  std::shared_ptr<Opening> opening_;
  Clock::time_point startedAt_;
};

}  // namespace tavren::x11
