#pragma once

#include <chrono>
#include <cstdint>

#include "core/service_error.h"
#include "platform/platform.h"

namespace tavren {

// How long a request waits for its capture before answering that it timed out.
inline constexpr std::chrono::milliseconds kCaptureTimeLimit{7000};

// The capture errors, with the texts hosts already match on.
ServiceError missingWindowIdError();                   // 19
ServiceError windowUnavailableError(uint32_t window);  // 20
ServiceError unencodableCaptureError();                // 21
ServiceError captureTimedOutError();                   // 22
ServiceError captureWithoutResultError();              // 23
ServiceError captureUnsupportedError();                // 24

// One window's image as the result object {"dataBase64", "width", "height", "mediaType"}: JPEG
// at most maxWidth wide, or PNG at the display's density within the PNG caps. Reads and encodes
// on the calling thread.
Outcome windowImage(Platform& platform, uint32_t window, int maxWidth, bool png);

// The same, computed on one of the platform's capture threads while the calling thread waits at
// most `limit`. A capture still running then is left to finish on its own; its result is
// dropped, and a capture that had not even started by then skips the work.
Outcome captureWindowImage(Platform& platform, uint32_t window, int maxWidth, bool png,
                           std::chrono::milliseconds limit = kCaptureTimeLimit);

}  // namespace tavren
