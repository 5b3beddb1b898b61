// Decoding what the service encodes, for tests that check pixels rather than bytes.
#pragma once

#include <glib.h>
#include <spng.h>
#include <turbojpeg.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavren::testing {

struct DecodedImage {
  int width = 0;
  int height = 0;
  bool hasAlpha = false;
  std::vector<uint8_t> rgba;  // 4 bytes a pixel; alpha 255 for images without one

  // The pixel's red, green, blue and alpha; -1 for each outside the image (or when there is
  // none), so a failed decode fails the comparisons instead of the test binary.
  std::array<int, 4> at(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height ||
        rgba.size() < static_cast<size_t>(width) * height * 4) {
      return {-1, -1, -1, -1};
    }
    const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
  }
};

inline std::string base64Decoded(const std::string& text) {
  gsize length = 0;
  guchar* bytes = g_base64_decode(text.c_str(), &length);
  std::string out(reinterpret_cast<const char*>(bytes), length);
  g_free(bytes);
  return out;
}

inline std::optional<DecodedImage> decodeJpeg(std::string_view bytes) {
  tjhandle handle = tjInitDecompress();
  if (!handle) return std::nullopt;
  DecodedImage image;
  int subsampling = 0, colorspace = 0;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::optional<DecodedImage> out;
  if (tjDecompressHeader3(handle, data, bytes.size(), &image.width, &image.height, &subsampling,
                          &colorspace) == 0) {
    image.rgba.resize(static_cast<size_t>(image.width) * image.height * 4);
    if (tjDecompress2(handle, data, bytes.size(), image.rgba.data(), image.width, 0, image.height,
                      TJPF_RGBA, 0) == 0) {
      out = std::move(image);
    }
  }
  tjDestroy(handle);
  return out;
}

inline std::optional<DecodedImage> decodePng(std::string_view bytes) {
  spng_ctx* ctx = spng_ctx_new(0);
  if (!ctx) return std::nullopt;
  std::optional<DecodedImage> out;
  spng_ihdr ihdr{};
  size_t size = 0;
  if (spng_set_png_buffer(ctx, bytes.data(), bytes.size()) == 0 && spng_get_ihdr(ctx, &ihdr) == 0 &&
      spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0) {
    DecodedImage image;
    image.width = static_cast<int>(ihdr.width);
    image.height = static_cast<int>(ihdr.height);
    image.hasAlpha = ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    image.rgba.resize(size);
    if (spng_decode_image(ctx, image.rgba.data(), size, SPNG_FMT_RGBA8, 0) == 0) {
      out = std::move(image);
    }
  }
  spng_ctx_free(ctx);
  return out;
}

// Whether two colours are within `tolerance` on each of red, green and blue.
inline bool near(const std::array<int, 4>& a, const std::array<int, 4>& b, int tolerance) {
  for (int i = 0; i < 3; ++i) {
    if (std::abs(a[i] - b[i]) > tolerance) return false;
  }
  return true;
}

}  // namespace tavren::testing
