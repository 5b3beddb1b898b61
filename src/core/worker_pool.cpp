#include "core/worker_pool.h"

#include <algorithm>
#include <future>
#include <system_error>

namespace tavren {

WorkerPool::WorkerPool(size_t maxThreads, ThreadStarter starter)
    : maxThreads_(std::max<size_t>(maxThreads, 1)), starter_(std::move(starter)) {
  if (!starter_) {
    starter_ = [](std::function<void()> body) { return std::thread(std::move(body)); };
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& t : threads_) t.join();
}

bool WorkerPool::submit(Work work) {
  std::unique_lock lock(mutex_);
  pending_.push_back(std::move(work));
  if (idle_ >= pending_.size() || threads_.size() >= maxThreads_) {
    lock.unlock();
    wake_.notify_one();
    return true;
  }
  // Threads start on demand, so a pool that is never used never has them. A new one counts as
  // idle from birth so that the next submit does not start yet another.
  try {
    threads_.push_back(starter_([this] { loop(); }));
    ++idle_;
    return true;
  } catch (const std::system_error&) {
    // Out of threads: this item alone fails. Items already queued keep their place, and those
    // the busy threads will reach stay queued.
    pending_.pop_back();
    return false;
  }
}

bool WorkerPool::runSync(const Work& work) {
  std::promise<void> done;
  if (!submit([&] {
        work();
        done.set_value();
      })) {
    return false;
  }
  done.get_future().wait();
  return true;
}

size_t WorkerPool::queued() const {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

size_t WorkerPool::threadCount() const {
  std::lock_guard lock(mutex_);
  return threads_.size();
}

void WorkerPool::loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    if (pending_.empty()) return;  // stopping, and nothing left
    Work work = std::move(pending_.front());
    pending_.pop_front();
    --idle_;
    lock.unlock();
    work();
    work = nullptr;  // let go of what the item captured before going idle
    lock.lock();
    ++idle_;
  }
}

size_t defaultCaptureThreadCount() {
  return std::clamp<size_t>(std::thread::hardware_concurrency(), 2, 4);
}

}  // namespace tavren
