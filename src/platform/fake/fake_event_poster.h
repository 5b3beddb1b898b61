#pragma once

#include <chrono>
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
  bool global = false;
};

// Input posted to the in-memory desktop, kept in order for tests to read back. The pointer
// follows what is posted globally, as the real one does; posting to a window never moves it.
class FakeEventPoster final : public EventPoster {
 public:
  using Posted = std::variant<PointerEvent, KeyEvent, ScrollEvent>;
  struct Addressed {
    int32_t pid = 0;
    EventWindow target;
    Posted event;
  };

  bool postToWindow(int32_t pid, const EventWindow& target, const PointerEvent& e) override;
  bool postToWindow(int32_t pid, const EventWindow& target, const KeyEvent& e) override;
  ScrollDelivery postToWindow(int32_t pid, const EventWindow& target,
                              const ScrollEvent& e) override;
  bool postGlobal(const PointerEvent& e) override;
  bool postGlobal(const KeyEvent& e) override;
  bool postGlobal(const ScrollEvent& e) override;
  std::optional<Point> pointerLocation() override;
  std::chrono::milliseconds doubleClickInterval() override;

  // Every event, oldest first; the global ones; the window-addressed ones.
  std::vector<PostedEvent> posted() const;
  std::vector<Posted> global() const;
  std::vector<Addressed> addressed() const;
  void clear();

  void setPointer(std::optional<Point> location);
  void setDoubleClickInterval(std::chrono::milliseconds interval);
  // How accepted window-addressed scrolls say they went (Wheel unless set).
  void setScrollDelivery(ScrollDelivery delivery);
  // While set, every post fails (the event "cannot be created") and is not journalled.
  void setFailing(bool failing);
  // After `count` more accepted posts, the next one fails; the rest succeed again.
  void failAfter(int count);
  // Runs after each accepted post, outside the lock: lets a test change the desktop mid-sequence.
  void onPosted(std::function<void(const PostedEvent&)> hook);

 private:
  bool accept(PostedEvent e);

  mutable std::mutex mutex_;
  std::vector<PostedEvent> posted_;
  std::optional<Point> pointer_ = Point{0, 0};
  std::chrono::milliseconds doubleClick_{400};
  ScrollDelivery scrollDelivery_ = ScrollDelivery::Wheel;
  bool failing_ = false;
  int remaining_ = -1;
  std::function<void(const PostedEvent&)> hook_;
};

}  // namespace tavren
