#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/linux/x11/x_reply.h"

namespace tavren::x11 {

// A connection to an X server on which no wait for a reply lasts longer than kReplyTimeout.
// XCB's own reply functions wait for ever, which a stopped or hung server turns into a hung
// caller, so every reply is read here instead: the request is flushed, then the reply is polled
// for while one waiting thread at a time sleeps on the socket and the others sleep until a
// thread has read something from it (whichever thread reads, it may read the others' replies).
// Thread-safe, like the XCB connection it owns.
//
// When a reply does not come in time, the server is taken as stalled for kStallPause: waits
// started meanwhile fail at once, so that a stopped server costs a request one timeout instead
// of one per round trip, and a pile of requests one timeout each rather than a queue of them.
// After the pause the next wait gets the full timeout again, so a server that was only paused
// (a debugger, a suspended machine) is used again without a restart. Any reply that arrives
// ends the stall.
class XLink {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kReplyTimeout{1500};  // as a D-Bus call's
  static constexpr std::chrono::milliseconds kStallPause{5000};

  // Connects to `display` (DISPLAY syntax). Blocks until the server has answered the connection
  // set-up, which a stopped server never does: call it only where waiting is harmless. None when
  // the server cannot be reached or refuses.
  static std::unique_ptr<XLink> connect(const std::string& display);
  // The same in a thread of its own, for callers that must not wait on the server for ever:
  // each waits for the future as long as it may (wait_for), and may look again on a later call.
  // A connection that comes after everyone stopped waiting is closed with the future.
  static std::shared_future<std::shared_ptr<XLink>> connectInBackground(const std::string& display);
  ~XLink();
  XLink(const XLink&) = delete;
  XLink& operator=(const XLink&) = delete;

  xcb_connection_t* get() const { return connection_; }
  int screenNumber() const { return screenNumber_; }
  xcb_window_t root() const { return root_; }

  // False once the connection broke, and while the server is taken as stalled.
  bool alive() const;

  // The reply to a request, read with a deadline. `replyOf` is XCB's reply function for the
  // request (only its type is used: it ties the cookie to its reply). None when the server
  // answered with an error (then in *error, when asked for) or not in time.
  template <class T, class Cookie>
  Reply<T> reply(T* (*replyOf)(xcb_connection_t*, Cookie, xcb_generic_error_t**), Cookie cookie,
                 Reply<xcb_generic_error_t>* error = nullptr) const {
    (void)replyOf;
    void* raw = nullptr;
    xcb_generic_error_t* failure = nullptr;
    await(cookie.sequence, &raw, &failure);
    Reply<xcb_generic_error_t> ownedFailure(failure);
    if (error) *error = std::move(ownedFailure);
    return Reply<T>(static_cast<T*>(raw));
  }

  // The outcome of a checked request that has no reply.
  struct Checked {
    bool answered = false;             // false when the server did not answer in time
    Reply<xcb_generic_error_t> error;  // the server's error, none when the request succeeded
    bool succeeded() const { return answered && !error; }
  };
  Checked check(xcb_void_cookie_t cookie) const;

  // A round trip: true once the server has answered every request sent before it.
  bool sync() const;

  // The atom of a name, XCB_ATOM_NONE when the server did not answer.
  xcb_atom_t internAtom(std::string_view name) const;

 private:
  XLink(xcb_connection_t* connection, int screenNumber);
  // Until the reply, an error or the deadline; false on the deadline or a broken connection.
  bool await(unsigned sequence, void** reply, xcb_generic_error_t** error) const;
  // One look at XCB for the reply (XCB reads the socket then if nobody else does); true when
  // the wait is over. Wakes the other waiters when it may have read their replies.
  bool take(unsigned sequence, void** reply, xcb_generic_error_t** error) const;
  bool stalled() const;

  xcb_connection_t* connection_;
  int fd_;
  int screenNumber_;
  xcb_window_t root_ = XCB_WINDOW_NONE;

  mutable std::mutex mutex_;
  mutable std::condition_variable readSomething_;
  mutable bool socketWatched_ = false;  // a waiter sleeps on the socket
  mutable uint64_t reads_ = 0;          // counts reads from the socket that others may need
  mutable std::atomic<int64_t> stalledUntil_{0};  // Clock ticks; 0 when not stalled
};

}  // namespace tavren::x11
