#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

#include "core/service_error.h"

namespace tavren {

// Where a capture task leaves its outcome for the request that waits for it. Shared by both:
// whichever lets go last frees it, so a task that finishes after its request gave up stores
// into a box nobody reads and nothing is left behind.
class AsyncCaptureBox {
 public:
  // Replaces what is stored; a later outcome overwrites an earlier one.
  void set(Outcome outcome);
  // What is stored, if anything, moved out: an image can be megabytes, and only the one waiting
  // request ever reads it, once.
  std::optional<Outcome> take();

 private:
  std::mutex lock_;
  std::optional<Outcome> stored_;
};

// A counting semaphore with a deadline. Built on a mutex and a condition variable rather than
// std::counting_semaphore, which in the GCC 12 library can lose a wake-up (GCC bug 104928) and
// would then hold a request for the whole time limit.
class CaptureSemaphore {
 public:
  void signal();
  // True when a signal was taken, false when the deadline passed first.
  bool waitUntil(std::chrono::steady_clock::time_point deadline);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

}  // namespace tavren
