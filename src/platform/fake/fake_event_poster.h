#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <variant>
#include <vector>

#include "platform/event_poster.h"

namespace tavren {

// Input posted to the in-memory desktop, kept in order for tests to read back. The pointer
// follows what is posted globally, as the real one does.
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
  bool postToWindow(int32_t pid, const EventWindow& target, const ScrollEvent& e) override;
  bool postGlobal(const PointerEvent& e) override;
  bool postGlobal(const KeyEvent& e) override;
  bool postGlobal(const ScrollEvent& e) override;
  std::optional<Point> pointerLocation() override;
  std::chrono::milliseconds doubleClickInterval() override;

  // Events posted to the whole desktop, and to windows, oldest first.
  std::vector<Posted> global() const;
  std::vector<Addressed> addressed() const;
  void clear();

  void setDoubleClickInterval(std::chrono::milliseconds interval);
  // While set, every post fails (the event "cannot be created") and is not journalled.
  void setFailing(bool failing);

 private:
  bool record(Posted event);

  mutable std::mutex mutex_;
  std::vector<Posted> global_;
  std::vector<Addressed> addressed_;
  Point pointer_;
  std::chrono::milliseconds doubleClick_{400};
  bool failing_ = false;
};

}  // namespace tavren
