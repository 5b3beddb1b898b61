#pragma once

#include "platform/input_monitor.h"
#include "platform/linux/x11/x_connection.h"

namespace tavren::input {

// The user's input through the X RECORD extension: core key and button presses of every client,
// real devices and XTest alike (events sent with SendEvent are not device input and not seen).
// Each observation opens two connections of its own: one to control the record context and
// follow keymap changes, one that the server streams the recorded events to, read by a thread
// of the observation's own.
class RecordMonitor final : public InputMonitor {
 public:
  // `x`, which may be null, tells whether the server answers and offers RECORD; it must
  // outlive the monitor.
  explicit RecordMonitor(const x11::XConnection* x) : x_(x) {}

  std::unique_ptr<InputObservation> observe(
      std::function<void(const ObservedInput&)> onInput) override;

 private:
  const x11::XConnection* x_;
};

}  // namespace tavren::input
