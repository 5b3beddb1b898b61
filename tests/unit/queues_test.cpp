#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

#include "core/main_loop.h"
#include "core/work_queue.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;

TEST(ConcurrentQueue, SlowItemsNeverHoldUpQuickOnes) {
  ConcurrentQueue queue;
  std::latch release(1);
  std::atomic<int> slowStarted{0};
  for (int i = 0; i < 8; ++i) {
    queue.submit([&] {
      ++slowStarted;
      release.wait();
    });
  }
  // While all eight block, a quick item still runs.
  std::promise<void> quick;
  queue.submit([&] { quick.set_value(); });
  EXPECT_EQ(quick.get_future().wait_for(5s), std::future_status::ready);
  release.count_down();
}

TEST(ConcurrentQueue, RunsEveryItemExactlyOnceUnderLoad) {
  std::atomic<int> ran{0};
  {
    ConcurrentQueue queue;
    std::vector<std::thread> producers;
    std::latch done(4000);
    for (int p = 0; p < 4; ++p) {
      producers.emplace_back([&] {
        for (int i = 0; i < 1000; ++i) queue.submit([&] { ++ran; done.count_down(); });
      });
    }
    for (auto& t : producers) t.join();
    done.wait();
  }
  EXPECT_EQ(ran.load(), 4000);
}

TEST(SerialQueue, RunsInOrderOneAtATime) {
  SerialQueue queue("test.serial");
  std::vector<int> order;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  for (int i = 0; i < 200; ++i) {
    queue.submit([&, i] {
      if (++running > 1) overlapped = true;
      order.push_back(i);
      --running;
    });
  }
  queue.runSync([] {});  // waits behind everything submitted before it
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
  EXPECT_FALSE(overlapped);
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
