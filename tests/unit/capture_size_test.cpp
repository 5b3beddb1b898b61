#include "capture/capture_size.h"

#include <gtest/gtest.h>

namespace tavren {
namespace {

TEST(CaptureSize, JpegIsTwiceThePointWidthUpToMaxWidthAndKeepsTheAspect) {
  const PixelSize window{1440, 900};
  EXPECT_EQ(jpegPixelSize(window, 1600), (PixelSize{1600, 1000}));
  EXPECT_EQ(jpegPixelSize(window, 4096), (PixelSize{2880, 1800}));
  // Narrower than maxWidth / 2: exactly twice; wider: exactly maxWidth.
  EXPECT_EQ(jpegPixelSize({300, 200}, 4096), (PixelSize{600, 400}));
  EXPECT_EQ(jpegPixelSize({300, 200}, 450), (PixelSize{450, 300}));
  // Heights round halves away from zero: 101 * 150 / 200 = 75.75, 3 * 1 / 2 = 1.5.
  EXPECT_EQ(jpegPixelSize({200, 101}, 150), (PixelSize{150, 76}));
  EXPECT_EQ(jpegPixelSize({2, 3}, 1), (PixelSize{1, 2}));
}

TEST(CaptureSize, AbsentMaxWidthGivesOnePixelWideJpeg) {
  const int width = clampedMaxWidth(0);
  EXPECT_EQ(width, 1);
  EXPECT_EQ(jpegPixelSize({800, 600}, width), (PixelSize{1, 1}));   // 0.75 rounds to 1
  EXPECT_EQ(jpegPixelSize({100, 950}, width), (PixelSize{1, 10}));  // 9.5 rounds up
  EXPECT_EQ(jpegPixelSize({1000, 1}, width), (PixelSize{1, 1}));    // never 0 high
}

TEST(CaptureSize, MaxWidthIsClampedToOneThrough4096) {
  EXPECT_EQ(clampedMaxWidth(-5), 1);
  EXPECT_EQ(clampedMaxWidth(1), 1);
  EXPECT_EQ(clampedMaxWidth(4096), 4096);
  EXPECT_EQ(clampedMaxWidth(4097), 4096);
  EXPECT_EQ(clampedMaxWidth(INT64_MAX), 4096);
  EXPECT_EQ(clampedMaxWidth(INT64_MIN), 1);
}

TEST(CaptureSize, PointSizeRoundsHalvesAwayAndIsAtLeastOne) {
  EXPECT_EQ(windowPointSize({0, 0, 399.5, 300.49}), (PixelSize{400, 300}));
  EXPECT_EQ(windowPointSize({0, 0, 0, 0.2}), (PixelSize{1, 1}));
  EXPECT_EQ(windowPointSize({0, 0, -30, 1.5}), (PixelSize{1, 2}));
  // A nonsensical frame must not overflow what follows.
  const PixelSize huge = windowPointSize({0, 0, 1e300, 1e30});
  EXPECT_EQ(huge.width, INT32_MAX);
  EXPECT_EQ(jpegPixelSize(huge, 4096).width, 4096);
}

TEST(CaptureSize, PngUsesTheDensityAndStaysWithinTheCaps) {
  EXPECT_EQ(pngPixelSize({1440, 900}, 2), (PixelSize{2880, 1800}));
  EXPECT_EQ(pngPixelSize({1440, 900}, 1), (PixelSize{1440, 900}));
  EXPECT_EQ(pngPixelSize({1440, 900}, 0.5), (PixelSize{1440, 900}));  // never below 1
  // 6000 x 4000 points at scale 2: area capped at 12,845,056 pixels, aspect kept.
  const PixelSize big = pngPixelSize({6000, 4000}, 2);
  EXPECT_LE(int64_t{big.width} * big.height, kMaxPngPixels);
  EXPECT_GT(int64_t{big.width} * big.height, kMaxPngPixels - 2 * big.width);
  EXPECT_NEAR(double(big.width) / big.height, 1.5, 0.001);
  // A thin strip: the side cap binds before the area cap.
  EXPECT_EQ(pngPixelSize({10000, 100}, 1), (PixelSize{8192, 81}));
  EXPECT_EQ(pngPixelSize({1, 20000}, 1), (PixelSize{1, 8192}));
  EXPECT_EQ(pngPixelSize({3584, 3584}, 1), (PixelSize{3584, 3584}));
}

}  // namespace
}  // namespace tavren
