#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tavren {

using Work = std::function<void()>;

// Threads of its own that run submitted items in the order submitted. An idle thread takes the
// next item; while none is idle and fewer than `maxThreads` exist, a new one is started for it.
// One pool shape serves every queue of the service:
// - requests: a high cap, so a slow request never holds up a quick one;
// - remote input: one thread, so items run one at a time in input order;
// - captures: a few threads, because each capture holds a whole window's pixels.
class WorkerPool {
 public:
  // How a thread is started; replaceable so that tests can make starting fail.
  using ThreadStarter = std::function<std::thread(std::function<void()> body)>;

  explicit WorkerPool(size_t maxThreads, ThreadStarter starter = {});
  // Runs what is still queued, then joins: every accepted item runs exactly once.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues `work`. False, with `work` dropped unrun, when it needed a thread of its own and no
  // thread could be started: the caller answers for it instead of waiting behind busy threads.
  [[nodiscard]] bool submit(Work work);
  // Runs `work` after every item submitted before it has started (on a one-thread pool: has
  // finished) and waits for it to end. False when it could not be queued.
  bool runSync(const Work& work);

  size_t queued() const;       // items waiting for a thread
  size_t threadCount() const;  // threads started so far

 private:
  void loop();

  const size_t maxThreads_;
  ThreadStarter starter_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Work> pending_;
  std::vector<std::thread> threads_;
  size_t idle_ = 0;
  bool stopping_ = false;
};

// The thread count for capture work: the machine's cores, within 2..4.
size_t defaultCaptureThreadCount();

}  // namespace tavren
