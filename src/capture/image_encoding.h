#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/capture.h"

namespace tavren {

inline constexpr int kJpegQuality = 85;  // the 0.85 compression factor, on libjpeg's 1..100 scale
inline constexpr int kMaxJpegSide = 65500;  // the largest side a JPEG file can describe

// JPEG bytes of the pixels, alpha dropped (premultiplied, so transparent parts come out black).
// None when the image cannot be encoded (empty, a side over kMaxJpegSide, out of memory).
std::optional<std::string> jpegBytes(const CapturedPixels& pixels, int quality = kJpegQuality);

// PNG bytes, 8 bits per channel with straight alpha; a fully opaque image is written without
// an alpha channel, which makes it a quarter smaller and quicker to compress. None when it
// cannot be encoded.
std::optional<std::string> pngBytes(const CapturedPixels& pixels);

// Standard Base64 (RFC 4648 alphabet, with padding, no line breaks).
std::string base64Text(std::string_view bytes);

}  // namespace tavren
