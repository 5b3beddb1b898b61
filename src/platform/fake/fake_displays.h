#pragma once

#include <atomic>
#include <mutex>
#include <stdexcept>

#include "platform/displays.h"

namespace tavren {

// Displays in memory: a list of physical displays that tests change at will, and virtual
// displays numbered from 100 that count their own ends.
class FakeDisplays final : public Displays {
 public:
  struct Made final : VirtualDisplay {
    Made(uint32_t id, int width, int height, FakeDisplays& owner) : id_(id), owner_(owner) {
      address_.display = ":" + std::to_string(id);
      this->width = width;
      this->height = height;
    }
    ~Made() override { owner_.ended.fetch_add(1); }
    uint32_t id() const override { return id_; }
    const DesktopAddress& address() const override { return address_; }
    bool alive() const override { return !owner_.serversCrashed.load(); }
    int width = 0, height = 0;

   private:
    uint32_t id_;
    DesktopAddress address_;
    FakeDisplays& owner_;
  };

  std::optional<std::vector<uint32_t>> onlineDisplays() override {
    if (throwing) throw std::runtime_error("display list");
    std::lock_guard lock(mutex);
    return physical;
  }
  bool virtualDisplaysAvailable() override { return available; }
  std::unique_ptr<VirtualDisplay> createVirtualDisplay(int width, int height) override {
    if (creationThrows) throw std::runtime_error("create");
    if (!creationWorks) return nullptr;
    auto made = std::make_unique<Made>(nextId++, width, height, *this);
    last = made.get();
    serversCrashed = false;
    return made;
  }

  std::mutex mutex;
  std::optional<std::vector<uint32_t>> physical = std::vector<uint32_t>{};
  bool available = true;
  bool creationWorks = true;
  bool creationThrows = false;
  bool throwing = false;
  std::atomic<bool> serversCrashed{false};  // every display made so far has ended on its own
  std::atomic<int> ended{0};
  uint32_t nextId = 100;
  Made* last = nullptr;
};

}  // namespace tavren
