#pragma once

#include <mutex>
#include <set>

#include "platform/event_poster.h"
#include "platform/linux/x11/x_connection.h"

namespace tavren::input {

// Input on the X display: events sent to one window of a background application, the pointer's
// position, the double-click time.
class LinuxEventPoster final : public EventPoster {
 public:
  // x may be null (no display): then nothing can be posted. It must outlive the poster.
  explicit LinuxEventPoster(const x11::XConnection* x) : x_(x) {}

  bool postToWindow(int32_t pid, const EventWindow& target, const PointerEvent& e) override;
  bool postToWindow(int32_t pid, const EventWindow& target, const KeyEvent& e) override;
  bool postToWindow(int32_t pid, const EventWindow& target, const ScrollEvent& e) override;
  bool postGlobal(const PointerEvent& e) override;
  bool postGlobal(const KeyEvent& e) override;
  bool postGlobal(const ScrollEvent& e) override;
  std::optional<Point> pointerLocation() override;
  std::chrono::milliseconds doubleClickInterval() override;

 private:
  // The time stamp of the next event. A press (pressWindow not 0) is remembered: the first
  // press of the next click sequence in the same window is kept apart from it, waiting when
  // it comes too soon.
  uint32_t stamp(uint32_t pressWindow, bool firstClickPress);

  const x11::XConnection* x_;
  std::mutex stampMutex_;
  uint32_t lastStamp_ = 0;
  uint32_t lastPress_ = 0;
  uint32_t pressBefore_ = 0;
  std::set<uint32_t> lentFocus_;  // windows a move lent focus to, until their release
  uint32_t lastPressWindow_ = 0;
};

}  // namespace tavren::input
