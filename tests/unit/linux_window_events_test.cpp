#include <gtest/gtest.h>

#include "platform/linux/input/window_events.h"

namespace tavren::input {
namespace {

TEST(PointerStamp, ANewClickSequenceIsNeverCountedAsTheNextClickOfTheLastOne) {
  // The first event takes the server's time.
  EXPECT_EQ(pointerStamp(1000, 0, 0, 0, true, 400), 1000u);
  // A new sequence 110 ms after a single click comes after one double-click time...
  EXPECT_EQ(pointerStamp(1110, 1050, 1000, 0, true, 400), 1401u);
  // ...and two after the press before it, which a triple click would count.
  EXPECT_EQ(pointerStamp(1110, 1050, 1000, 950, true, 400), 1751u);
  // The second press of a sequence, and other events, keep the server's time.
  EXPECT_EQ(pointerStamp(1160, 1110, 1000, 950, false, 400), 1160u);
  // Long after the last press nothing moves.
  EXPECT_EQ(pointerStamp(5000, 1200, 1000, 950, true, 400), 5000u);
  // Stamps never go backwards, even across the 32-bit wrap.
  EXPECT_EQ(pointerStamp(1500, 1801, 0, 0, false, 400), 1801u);
  EXPECT_EQ(pointerStamp(5, 0xFFFFFFF0u, 0, 0, false, 400), 5u);
  EXPECT_EQ(pointerStamp(0xFFFFFFF0u, 10, 0, 0, false, 400), 10u);
  EXPECT_EQ(pointerStamp(5, 0xFFFFFF00u, 0xFFFFFF00u, 0, true, 400), 0xFFFFFF00u + 401u);
}

}  // namespace
}  // namespace tavren::input
