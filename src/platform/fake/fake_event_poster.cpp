#include "platform/fake/fake_event_poster.h"

namespace tavren {

bool FakeEventPoster::accept(PostedEvent e) {
  std::function<void(const PostedEvent&)> hook;
  {
    std::lock_guard lock(mutex_);
    if (remaining_ >= 0 && remaining_-- == 0) return false;
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
bool FakeEventPoster::postToWindow(int32_t pid, const EventWindow& target, const ScrollEvent& e) {
  return accept({pid, target, e});
}
bool FakeEventPoster::postGlobal(const PointerEvent& e) { return accept({0, {}, e}); }
bool FakeEventPoster::postGlobal(const KeyEvent& e) { return accept({0, {}, e}); }
bool FakeEventPoster::postGlobal(const ScrollEvent& e) { return accept({0, {}, e}); }

std::optional<Point> FakeEventPoster::pointerLocation() {
  std::lock_guard lock(mutex_);
  return pointer_;
}

std::vector<PostedEvent> FakeEventPoster::posted() const {
  std::lock_guard lock(mutex_);
  return posted_;
}

void FakeEventPoster::setPointer(std::optional<Point> location) {
  std::lock_guard lock(mutex_);
  pointer_ = location;
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
