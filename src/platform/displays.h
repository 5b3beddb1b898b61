#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/geometry.h"

namespace tavren {

struct DisplayInfo {
  uint32_t id = 0;
  Rect bounds;
  bool virtualDisplay = false;
};

struct VirtualDisplayRequest {
  int width = 0;
  int height = 0;
  std::string name;
};

// Online displays, and the one virtual display a headless machine may be given.
class Displays {
 public:
  virtual ~Displays() = default;
  virtual std::vector<DisplayInfo> onlineDisplays() = 0;
  // The new display, or an error message.
  virtual std::optional<DisplayInfo> createVirtualDisplay(const VirtualDisplayRequest& request,
                                                          std::string* error) = 0;
  virtual bool destroyVirtualDisplay(uint32_t id) = 0;
};

}  // namespace tavren
