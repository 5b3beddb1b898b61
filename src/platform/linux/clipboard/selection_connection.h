#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/x11/x_link.h"
#include "platform/linux/x11/x_reply.h"

namespace tavren::x11 {

using SteadyClock = std::chrono::steady_clock;

// The atoms selection transfers use, interned on the connection that uses them.
struct SelectionAtoms {
  xcb_atom_t clipboard = XCB_ATOM_NONE;
  xcb_atom_t targets = XCB_ATOM_NONE;
  xcb_atom_t multiple = XCB_ATOM_NONE;
  xcb_atom_t timestamp = XCB_ATOM_NONE;
  xcb_atom_t saveTargets = XCB_ATOM_NONE;
  xcb_atom_t incr = XCB_ATOM_NONE;
  xcb_atom_t atomPair = XCB_ATOM_NONE;
  xcb_atom_t clipboardManager = XCB_ATOM_NONE;
  xcb_atom_t transferProperty = XCB_ATOM_NONE;  // where our own conversions land
  xcb_atom_t clockProperty = XCB_ATOM_NONE;     // touched to learn the server time
};

// A private connection for selection work: selections are driven by events, and events of a
// shared connection would reach whichever thread reads them first. Each instance has one
// reader of its events. Every wait on it has a deadline.
class SelectionConnection {
 public:
  // Connects to $DISPLAY and makes an unmapped window that receives selection and property
  // events; nothing when the display cannot be reached. Connecting waits for the server's
  // set-up answer: open only once the shared connection answers.
  static std::unique_ptr<SelectionConnection> open(const std::string& display);
  ~SelectionConnection();
  SelectionConnection(const SelectionConnection&) = delete;
  SelectionConnection& operator=(const SelectionConnection&) = delete;

  xcb_connection_t* get() const { return link_->get(); }
  xcb_window_t window() const { return window_; }
  const SelectionAtoms& atoms() const { return atoms_; }
  // False once the connection broke, and while the server is taken as stalled (see XLink).
  bool alive() const { return link_->alive(); }
  // The largest property, in bytes, one request may write.
  size_t maxRequestBytes() const { return maxRequestBytes_; }

  // The reply to a request, read with XLink's deadline; nothing on timeout or error. Events
  // that arrive meanwhile stay queued.
  template <class T, class Cookie>
  Reply<T> reply(T* (*replyOf)(xcb_connection_t*, Cookie, xcb_generic_error_t**),
                 Cookie cookie) const {
    return link_->reply(replyOf, cookie);
  }
  // The next event, waiting at most until the deadline.
  Reply<xcb_generic_event_t> nextEvent(SteadyClock::time_point deadline);
  // The first event `wanted` accepts; others go to `other`. Nothing when the deadline passes.
  Reply<xcb_generic_event_t> waitForEvent(
      const std::function<bool(const xcb_generic_event_t&)>& wanted,
      const std::function<void(const xcb_generic_event_t&)>& other,
      SteadyClock::time_point deadline);

  // Names of atoms, one round trip for all; an unknown atom reads as empty.
  std::vector<std::string> atomNames(const std::vector<xcb_atom_t>& atoms);
  // Atoms for names, one round trip for all; NONE where the server did not answer.
  std::vector<xcb_atom_t> internAtoms(const std::vector<std::string>& names);
  // The server time now, learnt from a property change on our window.
  std::optional<xcb_timestamp_t> serverTime(
      const std::function<void(const xcb_generic_event_t&)>& other,
      SteadyClock::time_point deadline);

 private:
  explicit SelectionConnection(std::unique_ptr<XLink> link);
  // Waits until the socket is readable or the deadline passes; false on timeout.
  bool waitReadable(SteadyClock::time_point deadline);

  std::unique_ptr<XLink> link_;
  xcb_window_t window_ = XCB_WINDOW_NONE;
  SelectionAtoms atoms_;
  size_t maxRequestBytes_ = 0;
};

// The event type without the "sent by SendEvent" bit.
inline uint8_t eventType(const xcb_generic_event_t& e) { return e.response_type & 0x7f; }

}  // namespace tavren::x11
