#include "capture/window_capture.h"

#include <atomic>
#include <exception>
#include <future>
#include <memory>
#include <string>

#include "capture/capture_size.h"
#include "capture/image_encoding.h"
#include "capture/image_scaling.h"

namespace tavren {
namespace {

// What a request and its capture task share. The task keeps its own reference, so a task that
// outlives its request's wait still has somewhere to put its outcome, and whichever lets go
// last frees it: a late image is dropped with it.
struct CaptureHandoff {
  std::promise<Outcome> outcome;
  std::atomic<bool> abandoned{false};
};

ServiceError failureOf(const CaptureFailure& f) {
  return ServiceError{f.domain, f.code, f.message};
}

Outcome resultObject(std::string bytes, PixelSize size, bool png) {
  Json result = Json::object();
  result["dataBase64"] = base64Text(bytes);
  bytes = std::string();  // the encoded bytes are not needed once their text exists
  result["width"] = size.width;
  result["height"] = size.height;
  result["mediaType"] = png ? "image/png" : "image/jpeg";
  return result;
}

// windowImage, with whatever it throws turned into this request's failure: a capture thread
// has nobody above it to catch it.
Outcome guardedWindowImage(Platform& platform, uint32_t window, int maxWidth, bool png) {
  try {
    return windowImage(platform, window, maxWidth, png);
  } catch (const std::exception& e) {
    return computerUseError(500, std::string("INTERNAL_ERROR: ") + e.what());
  } catch (...) {
    return computerUseError(500, "INTERNAL_ERROR: capture failed");
  }
}

}  // namespace

ServiceError missingWindowIdError() {
  return computerUseError(19, "Missing window id");
}
ServiceError windowUnavailableError(uint32_t window) {
  return computerUseError(
      20, "Window " + std::to_string(window) + " is not available to ScreenCaptureKit");
}
ServiceError unencodableCaptureError() {
  return computerUseError(21, "Unable to encode captured window");
}
ServiceError captureTimedOutError() {
  return computerUseError(22, "ScreenCaptureKit window capture timed out");
}
ServiceError captureWithoutResultError() {
  return computerUseError(23, "ScreenCaptureKit returned no result");
}
ServiceError captureUnsupportedError() {
  return computerUseError(24, "ScreenCaptureKit window screenshots require macOS 14 or later");
}

Outcome windowImage(Platform& platform, uint32_t window, int maxWidth, bool png) {
  // The frame decides the size; a window that is not shown has no pixels to give.
  const std::optional<WindowInfo> info = platform.windowServer().window(window);
  if (!info || !info->onScreen || !info->bounds) return windowUnavailableError(window);
  const PixelSize points = windowPointSize(*info->bounds);

  WindowPixels read = platform.capture().windowPixels(window);
  if (std::holds_alternative<WindowUnavailable>(read)) return windowUnavailableError(window);
  if (const auto* failure = std::get_if<CaptureFailure>(&read)) return failureOf(*failure);
  CapturedPixels& pixels = std::get<CapturedPixels>(read);

  const PixelSize size =
      png ? pngPixelSize(points, pixels.pixelsPerPoint) : jpegPixelSize(points, maxWidth);
  // Refused before resampling: a size no JPEG can hold would only cost memory to discover.
  if (!png && (size.width > kMaxJpegSide || size.height > kMaxJpegSide)) {
    return unencodableCaptureError();
  }
  std::optional<std::string> bytes;
  PixelSize encoded;
  {
    // Scoped so the pixels are gone before the Base64 text is made: for a large window each
    // is tens of megabytes.
    const CapturedPixels image = scaledPixels(std::move(pixels), size);
    bytes = png ? pngBytes(image) : jpegBytes(image);
    encoded = {image.width, image.height};
  }
  if (!bytes) return unencodableCaptureError();
  return resultObject(std::move(*bytes), encoded, png);
}

Outcome captureWindowImage(Platform& platform, uint32_t window, int maxWidth, bool png,
                           std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  auto handoff = std::make_shared<CaptureHandoff>();
  std::future<Outcome> outcome = handoff->outcome.get_future();
  const bool started = platform.capture().startTask([handoff, &platform, window, maxWidth, png] {
    // Every path sets exactly one outcome. A task whose request already gave up skips the
    // capture: a burst of abandoned work would otherwise hold up the requests queued behind it.
    handoff->outcome.set_value(handoff->abandoned.load()
                                   ? Outcome(captureTimedOutError())
                                   : guardedWindowImage(platform, window, maxWidth, png));
  });
  if (!started) return computerUseError(500, "INTERNAL_ERROR: no capture thread could be started");
  if (outcome.wait_until(deadline) != std::future_status::ready) {
    handoff->abandoned.store(true);
    return captureTimedOutError();
  }
  try {
    return outcome.get();
  } catch (const std::future_error&) {
    return captureWithoutResultError();  // the task ended without leaving an outcome
  }
}

}  // namespace tavren
