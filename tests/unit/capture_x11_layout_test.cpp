// The arithmetic of reading X window pixels: formats, placement in the top-level's pixmap,
// clipping.
#include <gtest/gtest.h>

#include "platform/linux/capture/pixel_layout.h"

namespace tavren::x11 {
namespace {

VisualFormat trueColor(uint8_t depth) {
  return {depth, 32, true, 0xFF0000, 0xFF00, 0xFF};
}

TEST(CaptureX11Layout, OnlyCommonThirtyTwoBitFormatsAreRead) {
  auto opaque = layoutFor(trueColor(24), false);
  ASSERT_TRUE(opaque);
  EXPECT_FALSE(opaque->hasAlpha);
  EXPECT_FALSE(opaque->swapBytes);
  EXPECT_TRUE(layoutFor(trueColor(32), false)->hasAlpha);
  EXPECT_TRUE(layoutFor(trueColor(24), true)->swapBytes);
  EXPECT_FALSE(layoutFor({16, 16, true, 0xF800, 0x7E0, 0x1F}, false));
  EXPECT_FALSE(layoutFor({24, 24, true, 0xFF0000, 0xFF00, 0xFF}, false));   // packed 3 bytes
  EXPECT_FALSE(layoutFor({24, 32, true, 0xFF, 0xFF00, 0xFF0000}, false));   // BGR order
  EXPECT_FALSE(layoutFor({24, 32, false, 0xFF0000, 0xFF00, 0xFF}, false));  // palette
}

TEST(CaptureX11Layout, DepthTwentyFourBecomesOpaqueAndStridesAreHonoured) {
  // Two rows of two pixels, each server row padded to 12 bytes; the top byte is garbage.
  const uint32_t server[] = {0x12AABBCC, 0x00010203, 0xDEADBEEF,
                             0x7F102030, 0xFFFFFFFF, 0xDEADBEEF};
  uint32_t out[6] = {};
  copyAsArgb(reinterpret_cast<const uint8_t*>(server), 12, 2, 2, *layoutFor(trueColor(24), false),
             out, 3);
  EXPECT_EQ(out[0], 0xFFAABBCCu);
  EXPECT_EQ(out[1], 0xFF010203u);
  EXPECT_EQ(out[2], 0u) << "nothing written past the width";
  EXPECT_EQ(out[3], 0xFF102030u);
  EXPECT_EQ(out[4], 0xFFFFFFFFu);

  const uint32_t argb[] = {0x80400000};
  uint32_t kept = 0;
  copyAsArgb(reinterpret_cast<const uint8_t*>(argb), 4, 1, 1, *layoutFor(trueColor(32), false),
             &kept, 1);
  EXPECT_EQ(kept, 0x80400000u) << "ARGB visuals are premultiplied already";

  const uint32_t bigEndian[] = {__builtin_bswap32(0x00AABBCC)};
  uint32_t swapped = 0;
  copyAsArgb(reinterpret_cast<const uint8_t*>(bigEndian), 4, 1, 1, *layoutFor(trueColor(24), true),
             &swapped, 1);
  EXPECT_EQ(swapped, 0xFFAABBCCu);
}

TEST(CaptureX11Layout, PlacementWalksFramesAndBorders) {
  // A client at (4, 22) inside a frame with no border that sits at (100, 50) with a 2-pixel
  // border; the client itself has a 1-pixel border.
  auto framed = placementOf({{4, 22, 640, 480, 1}, {100, 50, 650, 510, 2}});
  ASSERT_TRUE(framed);
  EXPECT_EQ(framed->pixmapX, 4 + 1 + 2);
  EXPECT_EQ(framed->pixmapY, 22 + 1 + 2);
  EXPECT_EQ(framed->rootX, 4 + 1 + 100 + 2);
  EXPECT_EQ(framed->rootY, 22 + 1 + 50 + 2);
  EXPECT_EQ(framed->width, 640);
  EXPECT_EQ(framed->height, 480);
  // A pop-up straight on the root is its own top-level.
  auto popup = placementOf({{300, 200, 50, 40, 0}});
  EXPECT_EQ(popup->pixmapX, 0);
  EXPECT_EQ(popup->rootX, 300);
  EXPECT_FALSE(placementOf({}));
}

TEST(CaptureX11Layout, OverlapClipsToTheDrawable) {
  const AreaToRead inside = overlapOf(10, 20, 100, 50, 1920, 1080);
  EXPECT_EQ(inside.fromX, 10);
  EXPECT_EQ(inside.toX, 0);
  EXPECT_EQ(inside.width, 100);
  // Hanging off the top left and the bottom right of the screen.
  const AreaToRead corner = overlapOf(-30, -10, 100, 50, 1920, 1080);
  EXPECT_EQ(corner.fromX, 0);
  EXPECT_EQ(corner.fromY, 0);
  EXPECT_EQ(corner.toX, 30);
  EXPECT_EQ(corner.toY, 10);
  EXPECT_EQ(corner.width, 70);
  EXPECT_EQ(corner.height, 40);
  const AreaToRead edge = overlapOf(1900, 1070, 100, 50, 1920, 1080);
  EXPECT_EQ(edge.width, 20);
  EXPECT_EQ(edge.height, 10);
  EXPECT_EQ(overlapOf(2000, 0, 100, 50, 1920, 1080).width, 0);
}

}  // namespace
}  // namespace tavren::x11
