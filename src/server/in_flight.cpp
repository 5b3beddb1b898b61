#include "server/in_flight.h"

namespace tavren {

bool InFlightRequests::take(size_t bytes, std::chrono::milliseconds poll,
                            const std::function<bool()>& stopWaiting) {
  std::unique_lock lock(mutex_);
  auto fits = [&] {
    return requests_ == 0 || (requests_ < maxRequests_ && bytes_ + bytes <= maxBytes_);
  };
  while (!fits()) {
    if (room_.wait_for(lock, poll, fits)) break;
    lock.unlock();
    const bool stop = stopWaiting();
    lock.lock();
    if (stop) return false;
  }
  ++requests_;
  bytes_ += bytes;
  return true;
}

void InFlightRequests::answered(size_t bytes) {
  {
    std::lock_guard lock(mutex_);
    --requests_;
    bytes_ -= bytes;
  }
  room_.notify_one();
}

size_t InFlightRequests::count() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

}  // namespace tavren
