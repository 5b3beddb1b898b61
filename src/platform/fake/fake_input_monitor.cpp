#include "platform/fake/fake_input_monitor.h"

namespace tavren {

class FakeInputMonitor::Observation final : public InputObservation {
 public:
  Observation(FakeInputMonitor& owner, std::shared_ptr<std::function<void(const ObservedInput&)>> f)
      : owner_(owner), onInput_(std::move(f)) {}
  ~Observation() override {
    std::lock_guard lock(owner_.mutex_);
    if (owner_.current_ == onInput_) owner_.current_.reset();
    --owner_.observers_;
  }

 private:
  FakeInputMonitor& owner_;
  std::shared_ptr<std::function<void(const ObservedInput&)>> onInput_;
};

std::unique_ptr<InputObservation> FakeInputMonitor::observe(
    std::function<void(const ObservedInput&)> onInput) {
  std::lock_guard lock(mutex_);
  if (!available_) return nullptr;
  current_ = std::make_shared<std::function<void(const ObservedInput&)>>(std::move(onInput));
  ++observers_;
  return std::make_unique<Observation>(*this, current_);
}

bool FakeInputMonitor::deliver(const ObservedInput& input) {
  std::shared_ptr<std::function<void(const ObservedInput&)>> f;
  {
    std::lock_guard lock(mutex_);
    f = current_;
  }
  if (!f) return false;
  (*f)(input);
  return true;
}

void FakeInputMonitor::setAvailable(bool available) {
  std::lock_guard lock(mutex_);
  available_ = available;
}

int FakeInputMonitor::observers() const {
  std::lock_guard lock(mutex_);
  return observers_;
}

}  // namespace tavren
