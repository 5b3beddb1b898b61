#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tavren {

// A few threads that run capture tasks in the order submitted. The bound on threads is the
// bound on memory: a capture holds a whole window's pixels and their encoding while it runs,
// so a burst of requests queues here instead of allocating for all of them at once.
class CaptureThreads {
 public:
  explicit CaptureThreads(size_t maxThreads);
  ~CaptureThreads();  // runs what is still queued, then joins: every task ends exactly once
  CaptureThreads(const CaptureThreads&) = delete;
  CaptureThreads& operator=(const CaptureThreads&) = delete;

  void submit(std::function<void()> task);
  // Tasks submitted and not yet started.
  size_t queued() const;

  // The thread count the backends use: the machine's cores, within 2..4.
  static size_t defaultCount();

 private:
  void loop();

  const size_t maxThreads_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> pending_;
  std::vector<std::thread> threads_;
  size_t idle_ = 0;
  bool stopping_ = false;
};

}  // namespace tavren
