#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <variant>
#include <vector>

#include "platform/event_poster.h"

namespace tavren {

// One event the fake desktop was given. `pid` and `window` are 0 for global events.
struct PostedEvent {
  int32_t pid = 0;
  EventWindow window;
  std::variant<PointerEvent, KeyEvent, ScrollEvent> event;
};

// Keeps every posted event, in order, for tests to assert on. The pointer is where a test puts
// it; posting never moves it, as posting to a window never moves the real one.
class FakeEventPoster final : public EventPoster {
 public:
  bool postToWindow(int32_t pid, const EventWindow& target, const PointerEvent& e) override;
  bool postToWindow(int32_t pid, const EventWindow& target, const KeyEvent& e) override;
  bool postToWindow(int32_t pid, const EventWindow& target, const ScrollEvent& e) override;
  bool postGlobal(const PointerEvent& e) override;
  bool postGlobal(const KeyEvent& e) override;
  bool postGlobal(const ScrollEvent& e) override;
  std::optional<Point> pointerLocation() override;
  std::chrono::milliseconds doubleClickInterval() override { return std::chrono::milliseconds(400); }

  std::vector<PostedEvent> posted() const;
  void setPointer(std::optional<Point> location);
  // After `count` more accepted posts, the next one fails; the rest succeed again.
  void failAfter(int count);
  // Runs after each accepted post, outside the lock: lets a test change the desktop mid-sequence.
  void onPosted(std::function<void(const PostedEvent&)> hook);

 private:
  bool accept(PostedEvent e);

  mutable std::mutex mutex_;
  std::vector<PostedEvent> posted_;
  std::optional<Point> pointer_ = Point{0, 0};
  int remaining_ = -1;
  std::function<void(const PostedEvent&)> hook_;
};

}  // namespace tavren
