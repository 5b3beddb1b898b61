#include "capture/image_scaling.h"

#include <pixman.h>

#include <algorithm>
#include <memory>
#include <new>

namespace tavren {
namespace {

struct ImageDeleter {
  void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using Image = std::unique_ptr<pixman_image_t, ImageDeleter>;

Image wrap(CapturedPixels& pixels) {
  return Image(pixman_image_create_bits(PIXMAN_a8r8g8b8, pixels.width, pixels.height,
                                        pixels.argb.data(), pixels.width * 4));
}

// Below a shrink of 0.75 bilinear sampling starts skipping source pixels; that is where the
// convolution, which averages everything a destination pixel covers, is worth its cost.
constexpr double kConvolveFrom = 1 / 0.75;

void setFilter(pixman_image_t* source, double shrinkX, double shrinkY) {
  if (shrinkX < kConvolveFrom && shrinkY < kConvolveFrom) {
    pixman_image_set_filter(source, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    return;
  }
  int count = 0;
  pixman_fixed_t* params = pixman_filter_create_separable_convolution(
      &count, pixman_double_to_fixed(std::max(1.0, shrinkX)),
      pixman_double_to_fixed(std::max(1.0, shrinkY)), PIXMAN_KERNEL_LINEAR, PIXMAN_KERNEL_LINEAR,
      PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 4, 4);
  if (params) {
    pixman_image_set_filter(source, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, count);
    free(params);
  } else {
    pixman_image_set_filter(source, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  }
}

}  // namespace

CapturedPixels scaledPixels(CapturedPixels source, PixelSize size) {
  size.width = std::max(1, size.width);
  size.height = std::max(1, size.height);
  if (source.width == size.width && source.height == size.height) return source;
  CapturedPixels scaled;
  scaled.pixelsPerPoint = source.pixelsPerPoint;
  if (source.argb.empty()) return scaled;
  try {
    scaled.argb.resize(static_cast<size_t>(size.width) * static_cast<size_t>(size.height));
  } catch (const std::bad_alloc&) {
    return scaled;
  }
  scaled.width = size.width;
  scaled.height = size.height;

  Image from = wrap(source);
  Image to = wrap(scaled);
  if (!from || !to) return CapturedPixels{};
  const double shrinkX = static_cast<double>(source.width) / size.width;
  const double shrinkY = static_cast<double>(source.height) / size.height;
  pixman_transform_t transform;
  pixman_transform_init_scale(&transform, pixman_double_to_fixed(shrinkX),
                              pixman_double_to_fixed(shrinkY));
  pixman_image_set_transform(from.get(), &transform);
  // Edge pixels repeat outward, so the border is not blended with transparent black.
  pixman_image_set_repeat(from.get(), PIXMAN_REPEAT_PAD);
  setFilter(from.get(), shrinkX, shrinkY);
  pixman_image_composite32(PIXMAN_OP_SRC, from.get(), nullptr, to.get(), 0, 0, 0, 0, 0, 0,
                           size.width, size.height);
  return scaled;
}

}  // namespace tavren
