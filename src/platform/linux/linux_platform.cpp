#include "platform/linux/atspi/atspi_accessibility.h"
#include "platform/linux/atspi/atspi_bus.h"
#include "platform/linux/capture/x11_capture.h"
#include "platform/linux/windows/linux_app_windows.h"
#include "platform/linux/windows/paired_accessibility.h"
#include "platform/linux/workspace/app_naming.h"
#include "platform/linux/workspace/linux_workspace.h"
#include "platform/linux/x11/text_property.h"
#include "platform/linux/x11/x11_window_server.h"
#include "platform/linux/x11/x_connection.h"
#include "platform/linux/x11/x_reply.h"
#include "platform/platform.h"

namespace tavren {

namespace {

// The AT_SPI_BUS property of the root window, where a desktop without a session bus may
// publish the accessibility bus.
std::string rootBusAddress(const x11::XConnection& x) {
  xcb_atom_t atom = x.atom(x11::Atom::AT_SPI_BUS);
  if (atom == XCB_ATOM_NONE || !x.alive()) return {};
  auto reply = x11::own(xcb_get_property_reply(
      x.get(), xcb_get_property(x.get(), 0, x.root(), atom, XCB_ATOM_STRING, 0, 256), nullptr));
  return x11::decodeText(x11::propertyBytes(reply.get()), x11::TextEncoding::Latin1);
}

Capabilities probe(const x11::XConnection* x, atspi::AtspiBus& bus) {
  Capabilities c;
  if (x) {
    const x11::XExtensions& e = x->extensions();
    c.display = true;
    c.syntheticInput = e.xtest;
    c.windowPixmaps = e.composite;
    c.clientPids = e.clientIds;
    c.inputRecording = e.record;
    c.rawInput = e.xinput2;
    c.displayList = e.randrMonitors;
    c.windowManager = e.wmCheckWindow != XCB_WINDOW_NONE;
  }
  // Without a session bus to ask, a reachable bus is taken as switched on: applications
  // register on it all the same.
  c.accessibility = bus.connection() != nullptr && bus.enabled().value_or(true);
  return c;
}

class LinuxPlatform final : public Platform {
 public:
  LinuxPlatform()
      : x_(x11::XConnection::open()),
        bus_(x_ ? std::function<std::string()>([x = x_.get()] { return rootBusAddress(*x); })
                : std::function<std::string()>()),
        capabilities_(probe(x_.get(), bus_)),
        naming_(bus_),
        workspace_(x_.get(), naming_),
        windowServer_(x_.get(), naming_),
        appWindows_(x_.get(), bus_),
        toolkitAccessibility_(bus_),
        accessibility_(toolkitAccessibility_, appWindows_),
        capture_(x_.get()) {
    // Reading every desktop entry is the slowest part of naming applications: do it before
    // the first request rather than during it.
    if (x_) naming_.entries();
  }

  const Capabilities& capabilities() const override { return capabilities_; }
  Workspace& workspace() override { return workspace_; }
  WindowServer& windowServer() override { return windowServer_; }
  ApplicationWindows& applicationWindows() override { return appWindows_; }
  Accessibility& accessibility() override { return accessibility_; }
  Capture& capture() override { return capture_; }

 private:
  std::unique_ptr<x11::XConnection> x_;
  atspi::AtspiBus bus_;
  Capabilities capabilities_;
  workspace::AppNaming naming_;
  workspace::LinuxWorkspace workspace_;
  x11::X11WindowServer windowServer_;
  appwindows::LinuxApplicationWindows appWindows_;
  atspi::AtspiAccessibility toolkitAccessibility_;
  appwindows::PairedAccessibility accessibility_;
  x11::X11Capture capture_;  // after what its capture threads use, so they end first
};

}  // namespace

std::unique_ptr<Platform> makeLinuxPlatform() {
  return std::make_unique<LinuxPlatform>();
}

}  // namespace tavren
