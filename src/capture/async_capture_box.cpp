#include "capture/async_capture_box.h"

namespace tavren {

void AsyncCaptureBox::set(Outcome outcome) {
  std::lock_guard guard(lock_);
  stored_ = std::move(outcome);
}

std::optional<Outcome> AsyncCaptureBox::take() {
  std::lock_guard guard(lock_);
  std::optional<Outcome> out = std::move(stored_);
  stored_.reset();
  return out;
}

void CaptureSemaphore::signal() {
  {
    std::lock_guard guard(mutex_);
    ++count_;
  }
  changed_.notify_one();
}

bool CaptureSemaphore::waitUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock guard(mutex_);
  if (!changed_.wait_until(guard, deadline, [this] { return count_ > 0; })) return false;
  --count_;
  return true;
}

}  // namespace tavren
