#include "platform/capture_threads.h"

#include <algorithm>

namespace tavren {

CaptureThreads::CaptureThreads(size_t maxThreads) : maxThreads_(std::max<size_t>(maxThreads, 1)) {}

CaptureThreads::~CaptureThreads() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& t : threads_) t.join();
}

size_t CaptureThreads::defaultCount() {
  return std::clamp<size_t>(std::thread::hardware_concurrency(), 2, 4);
}

void CaptureThreads::submit(std::function<void()> task) {
  std::unique_lock lock(mutex_);
  pending_.push_back(std::move(task));
  if (idle_ >= pending_.size() || threads_.size() >= maxThreads_) {
    lock.unlock();
    wake_.notify_one();
    return;
  }
  // Threads start on demand, so a process that never captures never has them. A new one counts
  // as idle from birth so that the next submit does not start yet another.
  ++idle_;
  threads_.emplace_back([this] { loop(); });
}

size_t CaptureThreads::queued() const {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

void CaptureThreads::loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    if (pending_.empty()) return;  // stopping, and nothing left: every waiter has been answered
    std::function<void()> task = std::move(pending_.front());
    pending_.pop_front();
    --idle_;
    lock.unlock();
    task();
    task = nullptr;  // let go of what the task holds before going idle
    lock.lock();
    ++idle_;
  }
}

}  // namespace tavren
