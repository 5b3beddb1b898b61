#include "recording/recording_event.h"

#include "accessibility/sensitive_fields.h"
#include "apps/app_identity.h"
#include "recording/recording_rules.h"
#include "core/event_sink.h"

namespace tavren {

std::optional<Json> recordingEventLine(const ObservedInput& input,
                                       const RecordingEventFacts& facts) {
  uint64_t flags = 0;
  if (input.pointer) flags = input.pointer->flags;
  if (input.scroll) flags = input.scroll->flags;
  if (input.key) flags = input.key->flags;
  const std::vector<std::string> modifiers = recordingModifierNames(flags);
  std::string keyName = input.key ? safeKeyName(input.key->keyCode) : "";
  const std::optional<std::string_view> kind = recordingKind(input, modifiers, keyName);
  if (!kind) return std::nullopt;

  const bool sensitive = facts.element.value("sensitive", false);
  if (input.key && !isSpecialKeyName(keyName) && (sensitive || !facts.elementKnown)) {
    keyName = std::string(kProtectedValue);
  }
  double deltaX = 0, deltaY = 0;
  if (input.scroll) {
    deltaY = input.scroll->lines[0];
    deltaX = input.scroll->lines[1];
  }
  const std::string appId = appIdentityId(facts.app);
  Json line = {{"version", kProtocolVersion},
               {"event", "recordingAction"},
               {"recordingId", facts.recordingId},
               {"sequence", facts.sequence},
               {"at", facts.at},
               {"kind", std::string(*kind)},
               {"appId", appId},
               {"appName", facts.app.name.empty() ? appId : facts.app.name},
               {"pid", facts.app.pid},
               {"x", input.location.x},
               {"y", input.location.y},
               {"key", keyName},
               {"modifiers", modifiers},
               {"deltaX", deltaX},
               {"deltaY", deltaY}};
  if (facts.element.is_object()) {
    for (const auto& [key, value] : facts.element.items()) line[key] = value;
  }
  return line;
}

}  // namespace tavren
