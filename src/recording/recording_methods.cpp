#include "recording/recording_methods.h"

#include "core/params.h"

namespace tavren {

Outcome startRecordingMethod(const Json& params, RecordingStream& recording,
                             InputMonitor& monitor, std::optional<RecordingDesktop> desktop) {
  const std::optional<std::string> id = stringParam(params, "recordingId");
  if (!id || id->empty()) return computerUseError(25, "Missing recording id");
  RecordingStream::Started started = recording.start(*id, monitor, std::move(desktop));
  return Json{{"recordingId", started.recordingId}, {"recording", started.recording}};
}

Outcome stopRecordingMethod(const Json&, RecordingStream& recording) {
  RecordingStream::Stopped stopped = recording.stop();
  return Json{{"recordingId", stopped.recordingId},
              {"recording", false},
              {"eventCount", stopped.eventCount}};
}

}  // namespace tavren
