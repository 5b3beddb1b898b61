#include "headless/desktop_environment.h"

namespace tavren::headless {

std::map<std::string, std::string> desktopVariables(const DesktopAddresses& addresses) {
  std::map<std::string, std::string> vars = {
      {"XDG_RUNTIME_DIR", addresses.runtimeDir},
      // The desktop is X11 only: toolkits that prefer Wayland must not look for a compositor.
      {"XDG_SESSION_TYPE", "x11"},
      {"GDK_BACKEND", "x11"},
      {"QT_QPA_PLATFORM", "xcb"},
  };
  // Unknown yet while the desktop starts; the caller's own must not stand in for them.
  if (!addresses.display.empty()) vars["DISPLAY"] = addresses.display;
  if (!addresses.sessionBus.empty()) vars["DBUS_SESSION_BUS_ADDRESS"] = addresses.sessionBus;
  if (addresses.accessibility) {
    if (!addresses.a11yBus.empty()) vars["AT_SPI_BUS_ADDRESS"] = addresses.a11yBus;
    vars["GNOME_ACCESSIBILITY"] = "1";
    vars["QT_ACCESSIBILITY"] = "1";
    // Qt otherwise only enables its bridge after asking org.a11y.Status over D-Bus at start-up.
    vars["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1";
  } else {
    // Without an accessibility bus GTK would look for one, and the session bus would activate
    // a bus launcher nobody stops.
    vars["NO_AT_BRIDGE"] = "1";
  }
  return vars;
}

std::vector<std::string> variablesToDrop(bool accessibility) {
  // The caller's display and buses: desktopVariables() adds this desktop's once they exist. An
  // inherited AT_SPI_BUS_ADDRESS would even take the registry daemon to the caller's bus.
  std::vector<std::string> dropped = {"DISPLAY",
                                      "DBUS_SESSION_BUS_ADDRESS",
                                      "AT_SPI_BUS_ADDRESS",
                                      "DBUS_STARTER_ADDRESS",
                                      "DBUS_STARTER_BUS_TYPE",
                                      "WAYLAND_DISPLAY",
                                      "WAYLAND_SOCKET",
                                      "SESSION_MANAGER",
                                      "DESKTOP_STARTUP_ID",
                                      "XDG_ACTIVATION_TOKEN"};
  if (accessibility) dropped.push_back("NO_AT_BRIDGE");
  return dropped;
}

}  // namespace tavren::headless
