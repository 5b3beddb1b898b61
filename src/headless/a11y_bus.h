// Switching accessibility on for a desktop's session bus, through the AT-SPI bus launcher.
#pragma once

#include <string>

#include "headless/x11_waits.h"

namespace tavren::headless {

// Waits until the bus launcher owns org.a11y.Bus on the session bus at `sessionBusAddress`,
// sets org.a11y.Status IsEnabled and ScreenReaderEnabled, and returns the accessibility bus
// address in *a11yAddress. `giveUp` is checked between attempts.
bool enableAccessibility(const std::string& sessionBusAddress, Deadline deadline,
                         const GiveUp& giveUp, std::string* a11yAddress, std::string* error);

}  // namespace tavren::headless
