#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavren {

using Work = std::function<void()>;

// Runs every item at once on its own worker: an idle worker takes it, or a new one is started.
// Slow requests therefore never hold up quick ones. Workers stay for later items.
class ConcurrentQueue {
 public:
  explicit ConcurrentQueue(size_t maxWorkers = 256) : maxWorkers_(maxWorkers) {}
  ~ConcurrentQueue();  // waits for running items, drops queued ones
  ConcurrentQueue(const ConcurrentQueue&) = delete;
  ConcurrentQueue& operator=(const ConcurrentQueue&) = delete;

  void submit(Work work);

 private:
  void workerLoop();

  const size_t maxWorkers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Work> pending_;
  std::vector<std::thread> workers_;
  size_t idle_ = 0;
  bool stopping_ = false;
};

// Runs items one at a time, in the order submitted, on one thread of its own.
class SerialQueue {
 public:
  explicit SerialQueue(std::string label);
  ~SerialQueue();  // finishes the queued items first
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  const std::string& label() const { return label_; }
  void submit(Work work);
  // Runs `work` after everything submitted before it and waits for it.
  void runSync(const Work& work);

 private:
  void loop();

  std::string label_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Work> pending_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tavren
