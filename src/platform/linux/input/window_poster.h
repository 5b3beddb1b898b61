#pragma once

#include <chrono>
#include <mutex>
#include <set>

#include "platform/event_poster.h"
#include "platform/linux/x11/x_connection.h"

namespace tavren::input {

// Events sent to one window of a background application (SendEvent on the shared connection),
// with the time stamps that keep separate clicks apart and the focus lent to a window between
// a move that announces a press and the release.
class WindowPoster {
 public:
  // x may be null (no display): then nothing can be posted. It must outlive the poster.
  explicit WindowPoster(const x11::XConnection* x) : x_(x) {}

  bool post(const EventWindow& target, const PointerEvent& e, std::chrono::milliseconds doubleClick);
  bool post(const EventWindow& target, const KeyEvent& e, std::chrono::milliseconds doubleClick);
  bool post(const EventWindow& target, const ScrollEvent& e, std::chrono::milliseconds doubleClick);

 private:
  // The time stamp of the next event. A press (pressWindow not 0) is remembered: the first
  // press of the next click sequence in the same window is kept apart from it, waiting when
  // it comes too soon.
  uint32_t stamp(uint32_t pressWindow, bool firstClickPress, std::chrono::milliseconds doubleClick);

  const x11::XConnection* x_;
  std::mutex stampMutex_;
  uint32_t lastStamp_ = 0;
  uint32_t lastPress_ = 0;
  uint32_t pressBefore_ = 0;
  std::set<uint32_t> lentFocus_;  // windows a move lent focus to, until their release
  uint32_t lastPressWindow_ = 0;
};

}  // namespace tavren::input
