#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

namespace tavren {

// Requests taken in and not answered yet. The reader stops taking in more while there are too
// many (or too many bytes of them), so that a host that sends without reading the answers holds
// the service at a bounded size instead of growing it without end.
inline constexpr size_t kMaxRequestsInFlight = 16384;
inline constexpr size_t kMaxBytesInFlight = size_t{64} << 20;

class InFlightRequests {
 public:
  InFlightRequests(size_t maxRequests = kMaxRequestsInFlight, size_t maxBytes = kMaxBytesInFlight)
      : maxRequests_(maxRequests), maxBytes_(maxBytes) {}

  // Waits until a request of `bytes` fits (one always fits when none is in flight), then counts
  // it. Every `poll` interval `stopWaiting` is asked; when it says true the wait ends with false
  // and nothing is counted.
  bool take(size_t bytes, std::chrono::milliseconds poll, const std::function<bool()>& stopWaiting);
  // The request of `bytes` has been answered.
  void answered(size_t bytes);

  size_t count() const;

 private:
  const size_t maxRequests_;
  const size_t maxBytes_;
  mutable std::mutex mutex_;
  std::condition_variable room_;
  size_t requests_ = 0;
  size_t bytes_ = 0;
};

}  // namespace tavren
