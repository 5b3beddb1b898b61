#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/input_monitor.h"

namespace tavren {

// The host application's own id: its input is never recorded.
inline constexpr std::string_view kHostAppId = "ai.tavren.host";

// The name a key press is reported by: letters and the special keys by name, every other key
// "key-" and its virtual key code, so that digits and punctuation never show their character.
std::string safeKeyName(uint16_t keyCode);

// return, tab, space, delete, escape and the four arrows: a press of one is a "key" even
// without modifiers.
bool isSpecialKeyName(std::string_view name);

// "cmd", "ctrl", "alt", "shift" for the flags held, in that order; other flags are ignored.
std::vector<std::string> recordingModifierNames(uint64_t flags);

// "click", "right-click", "middle-click", "scroll", "key" or "text-input"; none for input that
// is not recorded (a key release, a button let go).
std::optional<std::string_view> recordingKind(const ObservedInput& input,
                                              std::span<const std::string> modifiers,
                                              std::string_view keyName);

// Applications whose input is never recorded, compared with the event's "appId" exactly: the
// host, terminals, and the dialogs that ask for passwords and keys.
std::span<const std::string_view> excludedRecordingApps();
bool isExcludedRecordingApp(std::string_view appId);

}  // namespace tavren
