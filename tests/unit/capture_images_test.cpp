// Resampling and encoding: what a host decodes must be what the window showed.
#include <gtest/gtest.h>

#include "capture/image_encoding.h"
#include "capture/image_scaling.h"
#include "support/decoded_image.h"

namespace tavren {
namespace {

using testing::decodeJpeg;
using testing::decodePng;
using testing::near;

constexpr uint32_t kRed = 0xFFE01010, kGreen = 0xFF10C020, kBlue = 0xFF2030D0, kYellow = 0xFFF0E020;

std::array<int, 4> rgbaOf(uint32_t argb) {
  return {int(argb >> 16 & 0xFF), int(argb >> 8 & 0xFF), int(argb & 0xFF), int(argb >> 24)};
}

// Four quadrants: red, green on top; blue, yellow below.
CapturedPixels quadrants(int width, int height) {
  CapturedPixels p;
  p.width = width;
  p.height = height;
  p.argb.resize(size_t(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool right = x >= width / 2, bottom = y >= height / 2;
      p.argb[size_t(y) * width + x] = bottom ? (right ? kYellow : kBlue) : (right ? kGreen : kRed);
    }
  }
  return p;
}

void expectQuadrants(const testing::DecodedImage& image, int tolerance) {
  const int w = image.width, h = image.height;
  EXPECT_TRUE(near(image.at(w / 4, h / 4), rgbaOf(kRed), tolerance)) << "top left";
  EXPECT_TRUE(near(image.at(3 * w / 4, h / 4), rgbaOf(kGreen), tolerance)) << "top right";
  EXPECT_TRUE(near(image.at(w / 4, 3 * h / 4), rgbaOf(kBlue), tolerance)) << "bottom left";
  EXPECT_TRUE(near(image.at(3 * w / 4, 3 * h / 4), rgbaOf(kYellow), tolerance)) << "bottom right";
}

TEST(CaptureImages, JpegAndPngDecodeToTheSamePixels) {
  const CapturedPixels p = quadrants(64, 48);
  auto jpeg = jpegBytes(p);
  ASSERT_TRUE(jpeg);
  ASSERT_EQ(jpeg->substr(0, 2), "\xFF\xD8");
  auto fromJpeg = decodeJpeg(*jpeg);
  ASSERT_TRUE(fromJpeg);
  EXPECT_EQ(fromJpeg->width, 64);
  EXPECT_EQ(fromJpeg->height, 48);
  expectQuadrants(*fromJpeg, 12);

  auto png = pngBytes(p);
  ASSERT_TRUE(png);
  auto fromPng = decodePng(*png);
  ASSERT_TRUE(fromPng);
  EXPECT_FALSE(fromPng->hasAlpha) << "an opaque window needs no alpha channel";
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      ASSERT_EQ(fromPng->at(x, y), rgbaOf(p.argb[size_t(y) * 64 + x])) << x << "," << y;
    }
  }
}

TEST(CaptureImages, PngStraightensPremultipliedAlpha) {
  CapturedPixels p;
  p.width = 3;
  p.height = 1;
  // Half-transparent red (premultiplied 0x80 of 0xFF), fully transparent, opaque blue.
  p.argb = {0x80800000, 0x00000000, 0xFF0000FF};
  auto png = decodePng(*pngBytes(p));
  ASSERT_TRUE(png);
  EXPECT_TRUE(png->hasAlpha);
  EXPECT_EQ(png->at(0, 0), (std::array<int, 4>{255, 0, 0, 128}));
  EXPECT_EQ(png->at(1, 0), (std::array<int, 4>{0, 0, 0, 0}));
  EXPECT_EQ(png->at(2, 0), (std::array<int, 4>{0, 0, 255, 255}));
}

TEST(CaptureImages, UnencodableImagesAreRefused) {
  CapturedPixels empty;
  EXPECT_FALSE(jpegBytes(empty));
  EXPECT_FALSE(pngBytes(empty));
  CapturedPixels mismatched = quadrants(4, 4);
  mismatched.width = 5;  // more pixels claimed than present
  EXPECT_FALSE(jpegBytes(mismatched));
  EXPECT_FALSE(pngBytes(mismatched));
  CapturedPixels tooTall;
  tooTall.width = 1;
  tooTall.height = kMaxJpegSide + 1;
  tooTall.argb.assign(size_t(tooTall.height), 0xFF000000);
  EXPECT_FALSE(jpegBytes(tooTall));
}

TEST(CaptureImages, ResamplingKeepsBlocksInPlaceBothWays) {
  for (PixelSize size : {PixelSize{128, 96}, PixelSize{20, 15}, PixelSize{61, 50}}) {
    const CapturedPixels scaled = scaledPixels(quadrants(64, 48), size);
    ASSERT_EQ(scaled.width, size.width);
    ASSERT_EQ(scaled.height, size.height);
    ASSERT_EQ(scaled.argb.size(), size_t(size.width) * size.height);
    testing::DecodedImage view{scaled.width, scaled.height, false, {}};
    for (uint32_t px : scaled.argb) {
      auto c = rgbaOf(px);
      view.rgba.insert(view.rgba.end(), c.begin(), c.end());
    }
    expectQuadrants(view, 2);
    // Edges are not darkened by sampling outside the image.
    EXPECT_TRUE(near(view.at(0, 0), rgbaOf(kRed), 2));
    EXPECT_TRUE(near(view.at(size.width - 1, size.height - 1), rgbaOf(kYellow), 2));
  }
}

TEST(CaptureImages, ShrinkingAveragesInsteadOfSkipping) {
  // One-pixel stripes of black and white: skipping pixels would give pure black or white.
  CapturedPixels stripes;
  stripes.width = 400;
  stripes.height = 4;
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 400; ++x) stripes.argb.push_back(x % 2 ? 0xFFFFFFFF : 0xFF000000);
  }
  const CapturedPixels small = scaledPixels(stripes, {40, 4});
  for (int x = 2; x < 38; ++x) {
    const int grey = small.argb[size_t(x)] & 0xFF;
    EXPECT_NEAR(grey, 128, 20) << x;
  }
}

}  // namespace
}  // namespace tavren
