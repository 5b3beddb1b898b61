#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/linux/x11/x_link.h"

namespace tavren::x11 {

// Watches the root window for changes of the active window, and reads the server's clock, on a
// connection of its own whose events only its thread reads.
class ActiveWindowWatch {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  // Starts watching on `link`, a connection nobody else reads. Nothing when the server does not
  // answer the set-up's round trip in time (see XLink).
  static std::unique_ptr<ActiveWindowWatch> start(std::shared_ptr<const XLink> link,
                                                  xcb_atom_t activeWindowAtom);
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
  ActiveWindowWatch(std::shared_ptr<const XLink> link, xcb_atom_t activeWindowAtom, int wakeFd);
  void run();
  void wake();
  void handle(const xcb_generic_event_t* event);

  const std::shared_ptr<const XLink> link_;
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

  std::thread thread_;  // started by start() once everything above is set
};

}  // namespace tavren::x11
