// The environment of programs that live on a headless desktop.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tavren::headless {

struct DesktopAddresses {
  std::string display;     // ":N"
  std::string sessionBus;  // DBUS_SESSION_BUS_ADDRESS
  std::string a11yBus;     // AT_SPI_BUS_ADDRESS, empty when unknown
  std::string runtimeDir;  // XDG_RUNTIME_DIR
  bool accessibility = true;
};

// The variables a child needs to live on the desktop; addresses still empty are left out.
std::map<std::string, std::string> desktopVariables(const DesktopAddresses& addresses);

// Inherited variables that would lead a child to another desktop or bus (the caller's display,
// buses, Wayland compositor or session manager), or switch its accessibility off.
std::vector<std::string> variablesToDrop(bool accessibility);

}  // namespace tavren::headless
