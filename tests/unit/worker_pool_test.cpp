#include "core/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <latch>
#include <mutex>
#include <system_error>
#include <thread>

#include "server/main_loop.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;

// Items that report their start and wait to be let go.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  int started = 0;
  bool open = false;

  Work item(std::atomic<int>& finished) {
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

TEST(WorkerPool, SlowItemsNeverHoldUpQuickOnesBelowTheCap) {
  WorkerPool pool(256);
  Gate gate;
  std::atomic<int> finished{0};
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(pool.submit(gate.item(finished)));
  gate.waitForStarted(8);
  std::promise<void> quick;
  ASSERT_TRUE(pool.submit([&] { quick.set_value(); }));
  EXPECT_EQ(quick.get_future().wait_for(5s), std::future_status::ready);
  gate.release();
}

TEST(WorkerPool, RunsAtMostItsCapAndQueuesTheRestInOrder) {
  Gate gate;
  std::atomic<int> finished{0};
  {
    WorkerPool pool(3);
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(pool.submit(gate.item(finished)));
    gate.waitForStarted(3);
    EXPECT_EQ(pool.queued(), 5u);
    EXPECT_EQ(pool.threadCount(), 3u);
    {
      std::lock_guard lock(gate.mutex);
      EXPECT_EQ(gate.started, 3);
    }
    gate.release();
  }  // the destructor runs the queued items before it joins
  EXPECT_EQ(finished.load(), 8);
}

TEST(WorkerPool, OneThreadRunsItemsInOrderOneAtATime) {
  WorkerPool pool(1);
  std::vector<int> order;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(pool.submit([&, i] {
      if (++running > 1) overlapped = true;
      order.push_back(i);
      --running;
    }));
  }
  ASSERT_TRUE(pool.runSync([] {}));  // waits behind everything submitted before it
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
  EXPECT_FALSE(overlapped);
}

TEST(WorkerPool, RunsEveryItemExactlyOnceUnderLoad) {
  std::atomic<int> ran{0};
  {
    WorkerPool pool(16);
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p) {
      producers.emplace_back([&] {
        for (int i = 0; i < 1000; ++i) EXPECT_TRUE(pool.submit([&] { ++ran; }));
      });
    }
    for (auto& t : producers) t.join();
  }
  EXPECT_EQ(ran.load(), 4000);
}

TEST(WorkerPool, AnItemNoThreadCanBeStartedForFailsAloneAndThePoolGoesOn) {
  std::atomic<bool> refuse{false};
  WorkerPool pool(4, [&](std::function<void()> body) {
    if (refuse.load()) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(body));
  });
  Gate gate;
  std::atomic<int> finished{0};
  ASSERT_TRUE(pool.submit(gate.item(finished)));
  gate.waitForStarted(1);
  refuse = true;
  bool ran = false;
  EXPECT_FALSE(pool.submit([&] { ran = true; }));  // needs a second thread, which cannot start
  EXPECT_EQ(pool.queued(), 0u);
  refuse = false;
  std::promise<void> later;
  EXPECT_TRUE(pool.submit([&] { later.set_value(); }));
  EXPECT_EQ(later.get_future().wait_for(5s), std::future_status::ready);
  gate.release();
  EXPECT_FALSE(ran);
}

TEST(MainLoop, WorkersGetValuesFromTheMainThreadAndTimersTick) {
  MainLoop loop;
  const auto mainThread = std::this_thread::get_id();
  std::atomic<int> ticks{0};
  loop.addRepeatingTimer(5ms, [&] { ++ticks; });
  std::vector<std::thread> workers;
  std::atomic<int> onMain{0};
  for (int i = 0; i < 8; ++i) {
    workers.emplace_back([&, i] {
      for (int k = 0; k < 50; ++k) {
        int v = loop.runSync([&] {
          if (std::this_thread::get_id() == mainThread) ++onMain;
          return i * 100 + k;
        });
        EXPECT_EQ(v, i * 100 + k);
      }
    });
  }
  std::thread stopper([&] {
    for (auto& w : workers) w.join();
    while (ticks.load() < 2) std::this_thread::sleep_for(1ms);
    loop.quit();
  });
  loop.run();
  stopper.join();
  EXPECT_EQ(onMain.load(), 400);
  EXPECT_GE(ticks.load(), 2);
}

}  // namespace
}  // namespace tavren
