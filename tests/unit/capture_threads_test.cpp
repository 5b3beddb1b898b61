#include "platform/capture_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace tavren {
namespace {

// Tasks that report their start and wait to be let go.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  int started = 0;
  bool open = false;

  std::function<void()> task(std::atomic<int>& finished) {
    return [this, &finished] {
      std::unique_lock lock(mutex);
      ++started;
      changed.notify_all();
      changed.wait(lock, [this] { return open; });
      ++finished;
    };
  }
  void waitForStarted(int n) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return started >= n; });
  }
  void release() {
    std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }
};

TEST(CaptureThreads, RunsAtMostItsThreadCountAndQueuesTheRest) {
  Gate gate;
  std::atomic<int> finished{0};
  {
    CaptureThreads threads(3);
    for (int i = 0; i < 8; ++i) threads.submit(gate.task(finished));
    gate.waitForStarted(3);
    EXPECT_EQ(threads.queued(), 5u);
    {
      std::lock_guard lock(gate.mutex);
      EXPECT_EQ(gate.started, 3);
    }
    gate.release();
  }  // the destructor runs the queued tasks before it joins
  EXPECT_EQ(finished.load(), 8);
}

TEST(CaptureThreads, EndingRunsWhatIsStillQueued) {
  std::atomic<int> ran{0};
  {
    CaptureThreads threads(1);
    for (int i = 0; i < 50; ++i) threads.submit([&] { ++ran; });
  }
  EXPECT_EQ(ran.load(), 50);
}

}  // namespace
}  // namespace tavren
