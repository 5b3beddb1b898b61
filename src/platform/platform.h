#pragma once

#include <memory>

#include "platform/app_watcher.h"
#include "platform/application_windows.h"
#include "platform/accessibility.h"
#include "platform/capabilities.h"
#include "platform/capture.h"
#include "platform/displays.h"
#include "platform/focus.h"
#include "platform/event_poster.h"
#include "platform/input_monitor.h"
#include "platform/pasteboard.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tavren {

// The root of a desktop backend: hands out the interfaces the service uses and tells which
// optional pieces the desktop has. One instance lives for the whole process; every interface
// it hands out is safe to call from any thread.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual const Capabilities& capabilities() const = 0;
  virtual Workspace& workspace() = 0;
  virtual WindowServer& windowServer() = 0;
  virtual Accessibility& accessibility() = 0;
  virtual ApplicationWindows& applicationWindows() = 0;
  virtual Capture& capture() = 0;
  virtual Focus& focus() = 0;
  virtual EventPoster& eventPoster() = 0;
  virtual Pasteboard& pasteboard() = 0;
  virtual AppWatcher& appWatcher() = 0;
  virtual InputMonitor& inputMonitor() = 0;
};

// The X11 and AT-SPI desktop at `where`. Never fails: what cannot be reached is reported as a
// missing capability.
std::unique_ptr<Platform> makeLinuxPlatform(const DesktopAddress& where);

// The desktop this process was started on: $DISPLAY, $DBUS_SESSION_BUS_ADDRESS and
// $AT_SPI_BUS_ADDRESS.
DesktopAddress desktopAddressFromEnvironment();

// The desktop this process was started on.
inline std::unique_ptr<Platform> makeLinuxPlatform() {
  return makeLinuxPlatform(desktopAddressFromEnvironment());
}

}  // namespace tavren
