#include "capture/capture_request.h"

#include "capture/capture_size.h"
#include "capture/window_capture.h"
#include "core/params.h"

namespace tavren {

Outcome captureWindowRequest(const Json& params, Platform& platform) {
  const auto window = truncatedInteger<uint32_t>(number(params, "windowId"));
  if (!window) {
    return computerUseError(
        19, "INVALID_PARAMETER: windowId must be a whole number from 0 to 4294967295");
  }
  const auto requestedWidth = truncatedInteger<int64_t>(number(params, "maxWidth"));
  if (!requestedWidth) {
    return computerUseError(
        19, "INVALID_PARAMETER: maxWidth must be a number within the signed 64-bit range");
  }
  const int maxWidth = clampedMaxWidth(*requestedWidth);
  if (*window == 0) return missingWindowIdError();
  if (!platform.capture().available()) return captureUnsupportedError();
  const bool png = boolParam(params, "guiCapture").value_or(false);
  return captureWindowImage(platform, *window, maxWidth, png);
}

}  // namespace tavren
