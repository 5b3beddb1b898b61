#include "platform/fake/fake_event_poster.h"

namespace tavren {

bool FakeEventPoster::accept(PostedEvent e) {
  std::function<void(const PostedEvent&)> hook;
  {
    std::lock_guard lock(mutex_);
    if (failing_) return false;
    if (remaining_ >= 0 && remaining_-- == 0) return false;
    if (auto* p = std::get_if<PointerEvent>(&e.event); p && e.global) pointer_ = p->location;
    posted_.push_back(e);
    hook = hook_;
  }
  if (hook) hook(e);
  return true;
}

bool FakeEventPoster::postToWindow(int32_t pid, const EventWindow& target, const PointerEvent& e) {
  return accept({pid, target, e});
}
bool FakeEventPoster::postToWindow(int32_t pid, const EventWindow& target, const KeyEvent& e) {
  return accept({pid, target, e});
}
ScrollDelivery FakeEventPoster::postToWindow(int32_t pid, const EventWindow& target,
                                             const ScrollEvent& e) {
  if (!accept({pid, target, e})) return ScrollDelivery::Failed;
  std::lock_guard lock(mutex_);
  return scrollDelivery_;
}
bool FakeEventPoster::postGlobal(const PointerEvent& e) { return accept({0, {}, e, true}); }
bool FakeEventPoster::postGlobal(const KeyEvent& e) { return accept({0, {}, e, true}); }
bool FakeEventPoster::postGlobal(const ScrollEvent& e) { return accept({0, {}, e, true}); }

std::optional<Point> FakeEventPoster::pointerLocation() {
  std::lock_guard lock(mutex_);
  return pointer_;
}

std::chrono::milliseconds FakeEventPoster::doubleClickInterval() {
  std::lock_guard lock(mutex_);
  return doubleClick_;
}

void FakeEventPoster::setScrollDelivery(ScrollDelivery delivery) {
  std::lock_guard lock(mutex_);
  scrollDelivery_ = delivery;
}

std::vector<PostedEvent> FakeEventPoster::posted() const {
  std::lock_guard lock(mutex_);
  return posted_;
}

std::vector<FakeEventPoster::Posted> FakeEventPoster::global() const {
  std::lock_guard lock(mutex_);
  std::vector<Posted> out;
  for (const auto& e : posted_) {
    if (e.global) out.push_back(e.event);
  }
  return out;
}

std::vector<FakeEventPoster::Addressed> FakeEventPoster::addressed() const {
  std::lock_guard lock(mutex_);
  std::vector<Addressed> out;
  for (const auto& e : posted_) {
    if (!e.global) out.push_back({e.pid, e.window, e.event});
  }
  return out;
}

void FakeEventPoster::clear() {
  std::lock_guard lock(mutex_);
  posted_.clear();
}

void FakeEventPoster::setPointer(std::optional<Point> location) {
  std::lock_guard lock(mutex_);
  pointer_ = location;
}

void FakeEventPoster::setDoubleClickInterval(std::chrono::milliseconds interval) {
  std::lock_guard lock(mutex_);
  doubleClick_ = interval;
}

void FakeEventPoster::setFailing(bool failing) {
  std::lock_guard lock(mutex_);
  failing_ = failing;
}

void FakeEventPoster::failAfter(int count) {
  std::lock_guard lock(mutex_);
  remaining_ = count;
}

void FakeEventPoster::onPosted(std::function<void(const PostedEvent&)> hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

}  // namespace tavren
