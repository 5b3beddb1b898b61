#include "platform/linux/display/xvfb_displays.h"

#include <glib.h>
#include <unistd.h>
#include <xcb/randr.h>

#include "headless/headless_desktop.h"
#include "platform/linux/x11/x_link.h"

namespace tavren::display {
namespace {

using x11::XLink;

bool programFound(const char* name) {
  gchar* path = g_find_program_in_path(name);
  g_free(path);
  return path != nullptr;
}

class XvfbDisplay final : public VirtualDisplay {
 public:
  XvfbDisplay(std::unique_ptr<headless::HeadlessDesktop> desktop, uint32_t id,
              std::shared_ptr<WorkerPool> keeper)
      : desktop_(std::move(desktop)), id_(id), keeper_(std::move(keeper)) {
    const auto& variables = desktop_->environment();
    address_.display = desktop_->display();
    if (auto it = variables.find("DBUS_SESSION_BUS_ADDRESS"); it != variables.end()) {
      address_.sessionBus = it->second;
    }
    if (auto it = variables.find("AT_SPI_BUS_ADDRESS"); it != variables.end()) {
      address_.a11yBus = it->second;
    }
  }

  // Ended from the thread that started it, as the desktop asks; directly when that thread
  // cannot take the work.
  ~XvfbDisplay() override {
    headless::HeadlessDesktop* desktop = desktop_.get();
    if (!keeper_->runSync([desktop] { desktop->stop(); })) desktop->stop();
  }

  uint32_t id() const override { return id_; }
  const DesktopAddress& address() const override { return address_; }
  bool alive() const override { return desktop_->serverRunning(); }

 private:
  std::unique_ptr<headless::HeadlessDesktop> desktop_;
  uint32_t id_;
  DesktopAddress address_;
  std::shared_ptr<WorkerPool> keeper_;
};

}  // namespace

std::optional<uint32_t> displayNumber(const std::string& name) {
  const size_t colon = name.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  uint64_t number = 0;
  size_t i = colon + 1;
  for (; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
    number = number * 10 + static_cast<uint64_t>(name[i] - '0');
    if (number > UINT32_MAX) return std::nullopt;
  }
  if (i == colon + 1 || (i < name.size() && name[i] != '.')) return std::nullopt;
  return static_cast<uint32_t>(number);
}

XvfbDisplays::XvfbDisplays(std::string startupDisplay)
    : startupDisplay_(std::move(startupDisplay)), keeper_(std::make_shared<WorkerPool>(1)) {}

XvfbDisplays::~XvfbDisplays() = default;

std::optional<std::vector<uint32_t>> XvfbDisplays::onlineDisplays() {
  std::vector<uint32_t> ids;
  const std::optional<uint32_t> number = displayNumber(startupDisplay_);
  if (!number) return ids;
  // A display that cannot be reached in time is no display: the machine is headless.
  auto connecting = XLink::connectInBackground(startupDisplay_);
  if (connecting.wait_for(XLink::kReplyTimeout) != std::future_status::ready) return ids;
  std::shared_ptr<XLink> link = connecting.get();
  if (!link) return ids;
  xcb_connection_t* c = link->get();
  // XCB waits for the extension query without a deadline: sent ahead, read with a round trip.
  xcb_prefetch_extension_data(c, &xcb_randr_id);
  if (!link->sync()) return std::nullopt;
  const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
  if (randr == nullptr || !randr->present) {
    // Without RandR the server still shows its screen.
    ids.push_back(*number);
    return ids;
  }
  // Monitors are a request of RandR 1.5, which the client announces first.
  auto version = xcb_randr_query_version(c, 1, 5);
  auto monitors =
      link->reply(xcb_randr_get_monitors_reply, xcb_randr_get_monitors(c, link->root(), 1));
  (void)link->reply(xcb_randr_query_version_reply, version);
  if (!monitors) return std::nullopt;
  // Every monitor of the display has the display's number: the display counts once.
  if (xcb_randr_get_monitors_monitors_length(monitors.get()) > 0) ids.push_back(*number);
  return ids;
}

bool XvfbDisplays::virtualDisplaysAvailable() {
  return programFound("Xvfb") && programFound("dbus-daemon");
}

std::unique_ptr<VirtualDisplay> XvfbDisplays::createVirtualDisplay(int width, int height) {
  std::unique_ptr<headless::HeadlessDesktop> desktop;
  headless::DesktopOptions options;
  options.width = width;
  options.height = height;
  options.windowManager = programFound("openbox");
  std::string error;  // the desktop's reason; the caller answers with its own message
  const bool ran = keeper_->runSync([&] { desktop = headless::HeadlessDesktop::start(options, &error); });
  if (!ran || !desktop) return nullptr;
  const std::optional<uint32_t> id = displayNumber(desktop->display());
  if (!id || !desktop->serverRunning()) {
    keeper_->runSync([&] { desktop.reset(); });
    return nullptr;
  }
  return std::make_unique<XvfbDisplay>(std::move(desktop), *id, keeper_);
}

}  // namespace tavren::display
