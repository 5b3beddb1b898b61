#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavren {

// Where a desktop lives: what a platform connects to, and what a program started on that
// desktop needs. Empty members are unknown.
struct DesktopAddress {
  std::string display;     // X display name, ":N"
  std::string sessionBus;  // D-Bus session bus address
  std::string a11yBus;     // AT-SPI bus address
};

// A display this process made. Holding the object keeps the display alive; destroying it ends
// the display and whatever was started to serve it.
class VirtualDisplay {
 public:
  virtual ~VirtualDisplay() = default;
  virtual uint32_t id() const = 0;
  virtual const DesktopAddress& address() const = 0;
  // False once the display has ended on its own (its server crashed or was killed).
  virtual bool alive() const = 0;
};

// The displays of this machine, and the making of a virtual one for a headless machine. Safe to
// call from any thread.
class Displays {
 public:
  virtual ~Displays() = default;
  // Identifiers of the displays that are online and were not made by this process, in the
  // order the system lists them; nothing when the list cannot be read.
  virtual std::optional<std::vector<uint32_t>> onlineDisplays() = 0;
  // Whether virtual displays can be made here at all.
  virtual bool virtualDisplaysAvailable() = 0;
  // A new display of width x height pixels that answers, or null.
  virtual std::unique_ptr<VirtualDisplay> createVirtualDisplay(int width, int height) = 0;
};

}  // namespace tavren
