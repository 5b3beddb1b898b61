#pragma once

#include <atspi/atspi-constants.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavren::atspi {

// Whether an AT-SPI state (AtspiStateType: bit n of the 64-bit state set) is set.
inline constexpr bool hasState(uint64_t states, uint32_t state) {
  return state < 64 && (states >> state & 1) != 0;
}

// An element's role in the protocol's vocabulary, which keeps the macOS names.
struct ProtocolRole {
  std::string_view role;
  std::string_view subrole;
};

// The fallback for roles the table does not know (and for a role that cannot be read).
inline constexpr ProtocolRole kUnknownRole{"AXUnknown", ""};

// The protocol role of an AT-SPI role (AtspiRole) with the element's states. Top-level
// elements (children of the application) of a window-like role become windows.
ProtocolRole protocolRole(uint32_t atspiRole, uint64_t states, bool topLevel);

// Whether a child of the application with this AT-SPI role is one of its windows.
bool isWindowRole(uint32_t atspiRole);

// Whether a child of the application is a pop-up holding a menu rather than a window: the
// undecorated "window" role with a menu as its only child (a GTK context menu). Pop-ups are
// read as such, never as windows.
bool isMenuHolder(uint32_t atspiRole, std::span<const uint32_t> childRoles);
// Only such a role needs its children read to tell (isMenuHolder).
bool mayHoldMenu(uint32_t atspiRole);

// Roles whose value is their checked state (0, 1, or 2 when mixed), as on the Mac.
bool isToggleRole(uint32_t atspiRole);
// Roles that can be stepped up and down through their Value interface.
bool isSteppedRole(uint32_t atspiRole);
// A role whose text is a secret: never read, whatever the caller asks.
bool isSecretTextRole(uint32_t atspiRole);

// The protocol names of an element's AT-SPI actions, in the same order: the first available of
// "click", "press", "activate", "toggle" (in that order of preference) is "AXPress", "popup" and
// "menu" are "AXShowMenu"; other names are kept as the toolkit gives them.
std::vector<std::string> protocolActionNames(std::span<const std::string> atspiActions);

}  // namespace tavren::atspi
