#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/event_poster.h"

namespace tavren {

// A key with no virtual key code of its own (one the key table does not know).
inline constexpr uint16_t kNoKeyCode = 0xFFFF;

// One press of the user's own input, seen as it happens: exactly one of the three is set.
// - pointer: a button pressed (action Down; button 0 left, 1 right, 2 middle, 3 and up the
//   others), at the pointer's position;
// - key: a key pressed (down true; keyCode kNoKeyCode when the key has no virtual key code);
// - scroll: one step of a wheel (lines: vertical, horizontal; positive up and left).
// `flags` of each carry the modifiers held at the time; `location` is where the pointer was
// (global coordinates).
struct ObservedInput {
  std::optional<PointerEvent> pointer;
  std::optional<KeyEvent> key;
  std::optional<ScrollEvent> scroll;
  Point location;
};

// A running observation; input stops being delivered once it is destroyed (the destructor
// waits for a delivery in progress).
class InputObservation {
 public:
  virtual ~InputObservation() = default;
};

// Global input monitoring: it sees input addressed to every application and never changes it.
class InputMonitor {
 public:
  virtual ~InputMonitor() = default;
  // Starts observing. `onInput` is called on one thread of the monitor's own, one input at a
  // time, in the order the input happened. Null when input cannot be observed on this desktop.
  virtual std::unique_ptr<InputObservation> observe(
      std::function<void(const ObservedInput&)> onInput) = 0;
};

}  // namespace tavren
