#include <glib.h>

#include <chrono>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/linux/atspi/atspi_accessibility.h"
#include "platform/linux/atspi/atspi_bus.h"
#include "platform/linux/capture/x11_capture.h"
#include "platform/linux/focus/x11_focus.h"
#include "platform/linux/input/linux_event_poster.h"
#include "platform/linux/watch/x11_app_watcher.h"
#include "platform/linux/input/record_monitor.h"
#include "platform/linux/clipboard/x11_pasteboard.h"
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

// How long capabilities() waits for the start-up probe: the X connection's opening and the
// accessibility bus's connection, each bounded by its own timeouts.
constexpr auto kProbeBound = std::chrono::seconds(5);

// The AT_SPI_BUS property of the root window, where a desktop without a session bus may
// publish the accessibility bus.
std::string rootBusAddress(const x11::XConnection& x) {
  if (!x.alive()) return {};
  xcb_atom_t atom = x.atom(x11::Atom::AT_SPI_BUS);
  if (atom == XCB_ATOM_NONE) return {};
  auto reply = x.reply(xcb_get_property_reply,
                       xcb_get_property(x.get(), 0, x.root(), atom, XCB_ATOM_STRING, 0, 256));
  return x11::decodeText(x11::propertyBytes(reply.get()), x11::TextEncoding::Latin1);
}

Capabilities probe(const x11::XConnection* x, atspi::AtspiBus& bus) {
  Capabilities c;
  if (x && x->alive()) {
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

// Nothing reached: what capabilities() says until the probe has finished.
const Capabilities kNothingYet;

class LinuxPlatform final : public Platform {
 public:
  // Returns at once: connecting to the display and the bus, probing them and reading the
  // desktop entries happen in a thread of its own, and what needs the display waits for it
  // (each with its own bound) when it is asked for.
  explicit LinuxPlatform(const DesktopAddress& where)
      : x_(x11::XConnection::open(where.display)),
        bus_(where.a11yBus, where.sessionBus,
             x_ ? std::function<std::string()>([x = x_.get()] { return rootBusAddress(*x); })
                : std::function<std::string()>()),
        naming_(bus_),
        workspace_(x_.get(), naming_),
        windowServer_(x_.get(), naming_),
        appWindows_(x_.get(), bus_),
        toolkitAccessibility_(bus_),
        accessibility_(toolkitAccessibility_, appWindows_),
        focus_(x_.get()),
        pasteboard_(x_.get()),
        capture_(x_.get()),
        eventPoster_(x_.get(),
                     [this](int32_t pid, Point origin, Point at, std::array<int32_t, 2> clicks) {
                       return toolkitAccessibility_.scrollInPlaceOfWheel(pid, origin, at, clicks);
                     }),
        appWatcher_(x_.get()),
        inputMonitor_(x_.get()),
        startedAt_(std::chrono::steady_clock::now()),
        startup_([this] { startUp(); }) {
    // Detached: the process usually ends with _exit while the platform still lives, and a
    // thread left unjoined then counts as leaked. The destructor waits for it instead.
    startup_.detach();
  }

  ~LinuxPlatform() override {
    std::unique_lock lock(mutex_);
    probeDone_.wait(lock, [&] { return startedUp_; });
  }

  const Capabilities& capabilities() const override {
    std::unique_lock lock(mutex_);
    probeDone_.wait_until(lock, startedAt_ + kProbeBound, [&] { return probed_; });
    return probed_ ? capabilities_ : kNothingYet;
  }
  Workspace& workspace() override { return workspace_; }
  WindowServer& windowServer() override { return windowServer_; }
  ApplicationWindows& applicationWindows() override { return appWindows_; }
  Accessibility& accessibility() override { return accessibility_; }
  Capture& capture() override { return capture_; }
  Focus& focus() override { return focus_; }
  EventPoster& eventPoster() override { return eventPoster_; }
  Pasteboard& pasteboard() override { return pasteboard_; }
  AppWatcher& appWatcher() override { return appWatcher_; }
  InputMonitor& inputMonitor() override { return inputMonitor_; }

 private:
  void startUp() {
    Capabilities probed = probe(x_.get(), bus_);
    {
      std::lock_guard lock(mutex_);
      capabilities_ = probed;  // written once, before probed_; read only after it
      probed_ = true;
    }
    probeDone_.notify_all();
    if (probed.display) {
      // Windows redirected now have their pictures by the time the first capture asks.
      capture_.available();
      // Reading every desktop entry is the slowest part of naming applications: do it before
      // the first request rather than during it.
      naming_.entries();
    }
    std::lock_guard lock(mutex_);
    startedUp_ = true;
    probeDone_.notify_all();
  }

  std::unique_ptr<x11::XConnection> x_;
  atspi::AtspiBus bus_;
  workspace::AppNaming naming_;
  workspace::LinuxWorkspace workspace_;
  x11::X11WindowServer windowServer_;
  appwindows::LinuxApplicationWindows appWindows_;
  atspi::AtspiAccessibility toolkitAccessibility_;
  appwindows::PairedAccessibility accessibility_;
  x11::X11Focus focus_;
  x11::X11Pasteboard pasteboard_;
  x11::X11Capture capture_;  // after what its capture threads use, so they end first
  input::LinuxEventPoster eventPoster_;
  watch::X11AppWatcher appWatcher_;
  input::RecordMonitor inputMonitor_;
  mutable std::mutex mutex_;
  mutable std::condition_variable probeDone_;
  bool probed_ = false;
  bool startedUp_ = false;  // the start-up thread has nothing more to do
  Capabilities capabilities_;
  std::chrono::steady_clock::time_point startedAt_;
  std::thread startup_;  // last: starts once everything it uses is made
};

}  // namespace

std::unique_ptr<Platform> makeLinuxPlatform(const DesktopAddress& where) {
  return std::make_unique<LinuxPlatform>(where);
}

DesktopAddress desktopAddressFromEnvironment() {
  auto variable = [](const char* name) -> std::string {
    const char* value = std::getenv(name);
    return value ? value : "";
  };
  return DesktopAddress{.display = variable("DISPLAY"),
                        .sessionBus = variable("DBUS_SESSION_BUS_ADDRESS"),
                        .a11yBus = variable("AT_SPI_BUS_ADDRESS")};
}

}  // namespace tavren
