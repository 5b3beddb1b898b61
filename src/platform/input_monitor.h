#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/event_poster.h"

namespace tavren {

// The user's own input, seen as it happens. One of the three fields is set per event.
struct ObservedInput {
  std::optional<PointerEvent> pointer;
  std::optional<KeyEvent> key;
  std::optional<ScrollEvent> scroll;
};

// A running observation; input stops being delivered when it is destroyed.
class InputObservation {
 public:
  virtual ~InputObservation() = default;
};

// Global input monitoring, delivered on the main loop.
class InputMonitor {
 public:
  virtual ~InputMonitor() = default;
  virtual std::unique_ptr<InputObservation> observe(std::function<void(const ObservedInput&)> onInput) = 0;
};

}  // namespace tavren
