#include "server/in_flight.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace tavren {
namespace {

using namespace std::chrono_literals;

TEST(InFlightRequests, TakingWaitsForAnAnswerOnceFullAndGivesUpWhenTold) {
  InFlightRequests inFlight(/*maxRequests=*/2, /*maxBytes=*/100);
  const auto never = [] { return false; };
  ASSERT_TRUE(inFlight.take(10, 10ms, never));
  ASSERT_TRUE(inFlight.take(10, 10ms, never));

  // Full by count: a third waits until one is answered.
  std::atomic<bool> taken{false};
  std::thread reader([&] { taken = inFlight.take(10, 10ms, never); });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(taken);
  inFlight.answered(10);
  reader.join();
  EXPECT_TRUE(taken);
  EXPECT_EQ(inFlight.count(), 2u);

  // The input going away ends the wait without counting.
  EXPECT_FALSE(inFlight.take(10, 5ms, [] { return true; }));
  EXPECT_EQ(inFlight.count(), 2u);

  // Full by bytes; but a request of any size fits when nothing is in flight.
  inFlight.answered(10);
  EXPECT_FALSE(inFlight.take(95, 5ms, [] { return true; }));
  inFlight.answered(10);
  EXPECT_TRUE(inFlight.take(1000, 5ms, never));
}

}  // namespace
}  // namespace tavren
