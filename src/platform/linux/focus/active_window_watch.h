#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/linux/focus/reply_wait.h"

namespace tavren::x11 {

// Watches the root window for changes of the active window, and reads the server's clock, on a
// connection of its own whose events only its thread reads.
class ActiveWindowWatch {
 public:
  // Connects to $DISPLAY; nothing when the server cannot be reached.
  static std::unique_ptr<ActiveWindowWatch> open(xcb_atom_t activeWindowAtom);
  ~ActiveWindowWatch();
  ActiveWindowWatch(const ActiveWindowWatch&) = delete;
  ActiveWindowWatch& operator=(const ActiveWindowWatch&) = delete;

  // Changes of _NET_ACTIVE_WINDOW seen since the watch began.
  uint64_t changes();
  // Returns once changes() differs from `seen`, at the deadline, or when the server went away.
  void waitForChange(uint64_t seen, Deadline deadline);
  // A time of the server's clock, taken now: window managers weigh requests by it. The current
  // time placeholder (0) when the server does not answer by the deadline.
  xcb_timestamp_t serverTime(Deadline deadline);

 private:
  ActiveWindowWatch(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t activeWindowAtom,
                    int wakeFd);
  void run();
  void wake();
  void handle(const xcb_generic_event_t* event);

  xcb_connection_t* const connection_;
  const xcb_window_t root_;
  const xcb_atom_t activeWindowAtom_;
  const int wakeFd_;
  xcb_window_t clockWindow_ = XCB_WINDOW_NONE;
  std::atomic<bool> stopping_{false};

  std::mutex mutex_;
  std::condition_variable changed_;
  uint64_t changes_ = 0;
  uint64_t clockReadings_ = 0;
  xcb_timestamp_t lastTime_ = XCB_CURRENT_TIME;
  bool lost_ = false;  // the connection broke

  std::thread thread_;  // last: it starts once everything above is set
};

}  // namespace tavren::x11
