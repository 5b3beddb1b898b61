// Switching the front application back and forth between two windows: "bringToFront" then
// "restoreFront" through the service binary, beside `xdotool windowactivate --sync` on the same
// windows in the same run. Each switch counts until the X server reports the new active window
// to the bench's own connection. Starts its own headless desktop.

#include <poll.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <iostream>

#include "bench_desktop.h"
#include "cli/service_process.h"
#include "core/json.h"
#include "headless/headless_desktop.h"
#include "platform/linux/x11/x_link.h"

namespace tavren::bench {
namespace {

using namespace std::chrono_literals;

constexpr int kRounds = 5;
constexpr int kSwitchesPerRound = 40;  // each of the two kinds, per round

// The bench's own view of _NET_ACTIVE_WINDOW, woken by the root's property changes.
class ActiveWindowView {
 public:
  explicit ActiveWindowView(const std::string& display) : link_(x11::XLink::connect(display)) {
    if (!link_) fail("cannot connect to " + display);
    connection_ = link_->get();
    root_ = link_->root();
    active_ = link_->internAtom("_NET_ACTIVE_WINDOW");
    if (active_ == XCB_ATOM_NONE) fail("no answer from " + display);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
  }

  xcb_window_t active() {
    auto reply =
        link_->reply(xcb_get_property_reply,
                     xcb_get_property(connection_, 0, root_, active_, XCB_ATOM_WINDOW, 0, 1));
    return x11::singleWindow(reply.get());
  }

  // Returns once `window` is the active window; ends the bench after 5 s.
  void waitFor(xcb_window_t window) {
    const auto deadline = Clock::now() + 5s;
    for (;;) {
      while (xcb_generic_event_t* e = xcb_poll_for_event(connection_)) std::free(e);
      if (active() == window) return;
      if (xcb_generic_event_t* e = xcb_poll_for_queued_event(connection_)) {
        std::free(e);
        continue;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) fail("window " + std::to_string(window) + " never became active");
      pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
      poll(&fd, 1, int(left.count()));
    }
  }

 private:
  std::unique_ptr<x11::XLink> link_;
  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = XCB_WINDOW_NONE;
  xcb_atom_t active_ = XCB_ATOM_NONE;
};

struct Side {
  pid_t pid;
  xcb_window_t window;
};

Side openWindow(headless::HeadlessDesktop& desktop, const std::string& title) {
  std::string error;
  pid_t pid = desktop.launch(
      {sibling("tavren-fixture-titled-window"), "--title", title, "--size", "400x300"}, &error);
  if (pid <= 0) fail(error);
  auto window = desktop.clientWindow(pid, title, 30s);
  if (!window) fail(title + " did not show");
  return {pid, *window};
}

Json call(ServiceProcess& service, const std::string& method, const Json& params) {
  service.send(requestLine("b", method, params.dump()));
  auto line = service.responseFor("b", 10s);
  if (!line) fail("no answer to " + method);
  Json response = Json::parse(*line);
  if (!response.value("ok", false)) fail(method + " failed: " + *line);
  return response["result"];
}

// Milliseconds per switch through the service: bring `to` forward, then give the front back
// to `from`; each until the bench sees the new active window.
void serviceSwitches(ServiceProcess& service, ActiveWindowView& view, Side from, Side to, int count,
                     std::vector<double>& bring, std::vector<double>& restore) {
  for (int i = 0; i < count; ++i) {
    auto t0 = Clock::now();
    Json r = call(service, "bringToFront", {{"pid", to.pid}});
    if (r["front"] != true) fail("bringToFront did not reach the front: " + r.dump());
    view.waitFor(to.window);
    auto t1 = Clock::now();
    r = call(service, "restoreFront", {{"pid", from.pid}, {"targetPid", to.pid}});
    if (r["restored"] != true) fail("restoreFront did not restore: " + r.dump());
    view.waitFor(from.window);
    auto t2 = Clock::now();
    bring.push_back(micros(t1 - t0) / 1000.0);
    restore.push_back(micros(t2 - t1) / 1000.0);
  }
}

// The same switches with `xdotool windowactivate --sync`, run to its end.
void xdotoolSwitches(const headless::HeadlessDesktop& desktop, ActiveWindowView& view, Side from,
                     Side to, int count, std::vector<double>& samples) {
  const std::vector<std::string> env = desktop.childEnvironment();
  for (int i = 0; i < count * 2; ++i) {
    const Side& next = i % 2 == 0 ? to : from;
    auto t0 = Clock::now();
    if (!runToEnd({"xdotool", "windowactivate", "--sync", std::to_string(next.window)}, env)) {
      fail("xdotool failed");
    }
    view.waitFor(next.window);
    samples.push_back(micros(Clock::now() - t0) / 1000.0);
  }
}

}  // namespace
}  // namespace tavren::bench

int main() {
  using namespace tavren::bench;
  auto desktop = startDesktop();
  const Side from = openWindow(*desktop, "Bench back");
  const Side to = openWindow(*desktop, "Bench front");
  auto service = startService(*desktop);
  ActiveWindowView view(desktop->display());

  // Start from a known front, and warm both up.
  if (!runToEnd({"xdotool", "windowactivate", "--sync", std::to_string(from.window)},
                desktop->childEnvironment())) {
    fail("xdotool is not installed");
  }
  view.waitFor(from.window);
  std::vector<double> bring, restore, xdotool, discard;
  serviceSwitches(*service, view, from, to, 5, discard, discard);
  xdotoolSwitches(*desktop, view, from, to, 3, discard);

  // Interleaved in one run, so both see the same machine load.
  for (int round = 0; round < kRounds; ++round) {
    serviceSwitches(*service, view, from, to, kSwitchesPerRound, bring, restore);
    xdotoolSwitches(*desktop, view, from, to, kSwitchesPerRound, xdotool);
  }
  std::vector<double> service_all = bring;
  service_all.insert(service_all.end(), restore.begin(), restore.end());

  tavren::Json out = {
      {"bench", "focus"}, {"switches", service_all.size()}, {"xdotoolSwitches", xdotool.size()}};
  out.update(quantileFigures("switchMs", service_all, 90));
  out.update(quantileFigures("bringToFrontMs", bring, 90));
  out.update(quantileFigures("restoreFrontMs", restore, 90));
  out.update(quantileFigures("xdotoolMs", xdotool, 90));
  out["xdotoolOverSwitchP50"] = quantile(xdotool, 0.5) / quantile(service_all, 0.5);
  std::cout << out.dump(2) << "\n";
  service->closeInput();
  service->wait(5s);
  desktop->stop();
}
