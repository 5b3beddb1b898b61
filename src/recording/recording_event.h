#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/json.h"
#include "platform/input_monitor.h"
#include "platform/workspace.h"

namespace tavren {

// What one observed input is reported with, besides the input itself.
struct RecordingEventFacts {
  std::string recordingId;
  int64_t sequence = 0;
  int64_t at = 0;  // ms since 1970
  AppInfo app;     // the frontmost application
  // The element under the pointer or in focus: {"role", "label", "sensitive"}, or {} when
  // there is none.
  Json element = Json::object();
  // Whether the element lookup finished. A key typed while it is not known, or into a sensitive
  // element, may be a secret.
  bool elementKnown = true;
};

// The "recordingAction" event line for the input; none for input that is not recorded.
// Character keys typed into a sensitive element (or one that could not be looked up in time)
// are reported as "[protected]" instead of their name: only the special keys keep theirs.
std::optional<Json> recordingEventLine(const ObservedInput& input, const RecordingEventFacts& facts);

}  // namespace tavren
