#include "platform/fake/fake_event_poster.h"

namespace tavren {

bool FakeEventPoster::record(Posted event) {
  std::lock_guard lock(mutex_);
  if (failing_) return false;
  if (auto* p = std::get_if<PointerEvent>(&event)) pointer_ = p->location;
  global_.push_back(std::move(event));
  return true;
}

bool FakeEventPoster::postToWindow(int32_t pid, const EventWindow& target, const PointerEvent& e) {
  std::lock_guard lock(mutex_);
  if (failing_) return false;
  addressed_.push_back({pid, target, e});
  return true;
}

bool FakeEventPoster::postToWindow(int32_t pid, const EventWindow& target, const KeyEvent& e) {
  std::lock_guard lock(mutex_);
  if (failing_) return false;
  addressed_.push_back({pid, target, e});
  return true;
}

bool FakeEventPoster::postToWindow(int32_t pid, const EventWindow& target, const ScrollEvent& e) {
  std::lock_guard lock(mutex_);
  if (failing_) return false;
  addressed_.push_back({pid, target, e});
  return true;
}

bool FakeEventPoster::postGlobal(const PointerEvent& e) { return record(e); }
bool FakeEventPoster::postGlobal(const KeyEvent& e) { return record(e); }
bool FakeEventPoster::postGlobal(const ScrollEvent& e) { return record(e); }

std::optional<Point> FakeEventPoster::pointerLocation() {
  std::lock_guard lock(mutex_);
  return pointer_;
}

std::chrono::milliseconds FakeEventPoster::doubleClickInterval() {
  std::lock_guard lock(mutex_);
  return doubleClick_;
}

std::vector<FakeEventPoster::Posted> FakeEventPoster::global() const {
  std::lock_guard lock(mutex_);
  return global_;
}

std::vector<FakeEventPoster::Addressed> FakeEventPoster::addressed() const {
  std::lock_guard lock(mutex_);
  return addressed_;
}

void FakeEventPoster::clear() {
  std::lock_guard lock(mutex_);
  global_.clear();
  addressed_.clear();
}

void FakeEventPoster::setDoubleClickInterval(std::chrono::milliseconds interval) {
  std::lock_guard lock(mutex_);
  doubleClick_ = interval;
}

void FakeEventPoster::setFailing(bool failing) {
  std::lock_guard lock(mutex_);
  failing_ = failing;
}

}  // namespace tavren
