#include "platform/linux/input/linux_event_poster.h"

#include <thread>

#include "platform/linux/input/window_events.h"
#include "platform/linux/x11/x_reply.h"

namespace tavren::input {

uint32_t LinuxEventPoster::stamp(uint32_t pressWindow, bool firstClickPress) {
  const auto interval = static_cast<uint32_t>(doubleClickInterval().count());
  uint32_t stamp = 0;
  {
    std::lock_guard lock(stampMutex_);
    // Toolkits join presses into one multi-click only within one window.
    const bool joinable = firstClickPress && pressWindow == lastPressWindow_;
    stamp = pointerStamp(localServerTime(), lastStamp_, joinable ? lastPress_ : 0,
                         joinable ? pressBefore_ : 0, joinable, interval);
    lastStamp_ = stamp;
    if (pressWindow != 0) {
      pressBefore_ = lastPress_;
      lastPress_ = stamp;
      lastPressWindow_ = pressWindow;
    }
  }
  // A press kept apart from the last sequence waits for the server's clock to reach its stamp.
  const auto ahead = static_cast<int32_t>(stamp - localServerTime());
  if (ahead > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ahead));
  return stamp;
}

bool LinuxEventPoster::postToWindow(int32_t, const EventWindow& target, const PointerEvent& e) {
  if (!x_) return false;
  const bool press = e.action == PointerAction::Down;
  bool owesFocus = false;
  {
    std::lock_guard lock(stampMutex_);
    if (e.action == PointerAction::Move && e.pressFollows) lentFocus_.insert(target.id);
    if (e.action == PointerAction::Up) lentFocus_.erase(target.id);
    // A plain move after a move that lent focus: the press it announced never came.
    if (e.action == PointerAction::Move && !e.pressFollows) owesFocus = lentFocus_.erase(target.id);
  }
  if (owesFocus) returnLentFocus(*x_, target);
  return sendPointerToWindow(*x_, target, e,
                             stamp(press ? target.id : 0, press && e.clickCount <= 1));
}

bool LinuxEventPoster::postToWindow(int32_t, const EventWindow& target, const KeyEvent& e) {
  return x_ && sendKeyToWindow(*x_, target, e, stamp(0, false));
}

bool LinuxEventPoster::postToWindow(int32_t, const EventWindow& target, const ScrollEvent& e) {
  return x_ && sendScrollToWindow(*x_, target, e, stamp(0, false));
}

bool LinuxEventPoster::postGlobal(const PointerEvent&) { return false; }
bool LinuxEventPoster::postGlobal(const KeyEvent&) { return false; }
bool LinuxEventPoster::postGlobal(const ScrollEvent&) { return false; }

std::optional<Point> LinuxEventPoster::pointerLocation() {
  if (!x_ || !x_->alive()) return std::nullopt;
  auto reply = x11::own(
      xcb_query_pointer_reply(x_->get(), xcb_query_pointer(x_->get(), x_->root()), nullptr));
  if (!reply || !reply->same_screen) return std::nullopt;
  return Point{static_cast<double>(reply->root_x), static_cast<double>(reply->root_y)};
}

std::chrono::milliseconds LinuxEventPoster::doubleClickInterval() {
  return std::chrono::milliseconds(400);
}

}  // namespace tavren::input
