#include "platform/linux/input/window_poster.h"

#include <thread>

#include "platform/linux/input/window_events.h"

namespace tavren::input {

uint32_t WindowPoster::stamp(uint32_t pressWindow, bool firstClickPress,
                             std::chrono::milliseconds doubleClick) {
  const auto interval = static_cast<uint32_t>(doubleClick.count());
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

bool WindowPoster::post(const EventWindow& target, const PointerEvent& e,
                        std::chrono::milliseconds doubleClick) {
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
                             stamp(press ? target.id : 0, press && e.clickCount <= 1, doubleClick));
}

bool WindowPoster::post(const EventWindow& target, const KeyEvent& e,
                        std::chrono::milliseconds doubleClick) {
  return x_ && sendKeyToWindow(*x_, target, e, stamp(0, false, doubleClick));
}

bool WindowPoster::post(const EventWindow& target, const ScrollEvent& e,
                        std::chrono::milliseconds doubleClick) {
  return x_ && sendScrollToWindow(*x_, target, e, stamp(0, false, doubleClick));
}

}  // namespace tavren::input
