#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "platform/input_monitor.h"

namespace tavren {

// Input the test says the user made. deliver() hands it to the current observer on the calling
// thread, as the real monitor does on its own.
class FakeInputMonitor final : public InputMonitor {
 public:
  std::unique_ptr<InputObservation> observe(
      std::function<void(const ObservedInput&)> onInput) override;

  // Hands the input to the observer, if one runs; false when none does.
  bool deliver(const ObservedInput& input);
  // While false, observe() gives nothing (the desktop cannot be watched).
  void setAvailable(bool available);
  // Observations started and not yet ended.
  int observers() const;

 private:
  class Observation;
  mutable std::mutex mutex_;
  std::shared_ptr<std::function<void(const ObservedInput&)>> current_;
  bool available_ = true;
  int observers_ = 0;
};

}  // namespace tavren
