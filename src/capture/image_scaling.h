#pragma once

#include "capture/capture_size.h"
#include "platform/capture.h"

namespace tavren {

// The pixels resampled to `size` (each side at least 1): bilinear when enlarging or changing
// size only a little, area-averaging when shrinking, so small text stays legible instead of
// aliasing. The same pixels come back untouched when the size already matches. Empty (no
// pixels) when memory for the result cannot be had.
CapturedPixels scaledPixels(CapturedPixels source, PixelSize size);

}  // namespace tavren
