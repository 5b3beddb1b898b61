#pragma once

#include "core/json.h"
#include "core/service_error.h"
#include "platform/input_monitor.h"
#include "recording/recording_stream.h"

namespace tavren {

// "startRecording": starts recording under "recordingId" (a non-empty string, else code 25),
// replacing any recording that runs. {"recordingId", "recording": whether input is observed}.
Outcome startRecordingMethod(const Json& params, RecordingStream& recording,
                             InputMonitor& monitor,
                             std::optional<RecordingDesktop> desktop = std::nullopt);

// "stopRecording": {"recordingId" that ran ("" when none), "recording": false, "eventCount"}.
Outcome stopRecordingMethod(const Json& params, RecordingStream& recording);

}  // namespace tavren
