#include "core/work_queue.h"

namespace tavren {

ConcurrentQueue::~ConcurrentQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    pending_.clear();
  }
  wake_.notify_all();
  for (auto& t : workers_) t.join();
}

void ConcurrentQueue::submit(Work work) {
  std::unique_lock lock(mutex_);
  if (stopping_) return;
  pending_.push_back(std::move(work));
  if (idle_ >= pending_.size()) {
    lock.unlock();
    wake_.notify_one();
    return;
  }
  if (workers_.size() < maxWorkers_) {
    // Counted as idle from birth so that the next submit does not start yet another one.
    ++idle_;
    workers_.emplace_back([this] { workerLoop(); });
  }
}

void ConcurrentQueue::workerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    if (stopping_) return;
    Work work = std::move(pending_.front());
    pending_.pop_front();
    --idle_;
    lock.unlock();
    work();
    work = nullptr;  // release what the item captured before going idle
    lock.lock();
    ++idle_;
  }
}

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
  thread_ = std::thread([this] { loop(); });
}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void SerialQueue::submit(Work work) {
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(work));
  }
  wake_.notify_one();
}

void SerialQueue::runSync(const Work& work) {
  std::promise<void> done;
  submit([&] {
    work();
    done.set_value();
  });
  done.get_future().wait();
}

void SerialQueue::loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    if (pending_.empty()) return;  // stopping, and nothing left
    Work work = std::move(pending_.front());
    pending_.pop_front();
    lock.unlock();
    work();
    work = nullptr;
    lock.lock();
  }
}

}  // namespace tavren
