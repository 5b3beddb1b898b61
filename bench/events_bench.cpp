// Window lifecycle events: how long after the X server reports a window move the service's
// "windowLifecycle" line arrives, beside a plain X client listening for the same move in the
// same run (the floor: the server's own report), and the service's CPU while idle, before and
// after it watches gtk3-widget-factory (animating on its first page) and a fixture window.
// Starts its own headless desktop; prints one JSON object.

#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstring>
#include <iostream>
#include <thread>

#include "bench_desktop.h"
#include "core/json.h"
#include "platform/linux/procfs/proc_stat.h"
#include "platform/linux/x11/x_link.h"

namespace tavren::bench {
namespace {

using namespace std::chrono_literals;

constexpr int kMoves = 60;
constexpr auto kIdleSample = 5s;

// Percent of one core the process used over `span`, measured now.
double cpuPercent(pid_t pid, std::chrono::seconds span) {
  auto before = procfs::readProcStat(pid);
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(span);
  auto after = procfs::readProcStat(pid);
  if (!before || !after) fail("process " + std::to_string(pid) + " ended");
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  const double ticks = double(after->cpuTicks - before->cpuTicks);
  return 100.0 * ticks / double(sysconf(_SC_CLK_TCK)) / seconds;
}

Json call(ServiceProcess& service, const std::string& id, const std::string& method,
          const Json& params) {
  service.send(requestLine(id, method, params.dump()));
  auto line = service.responseFor(id, 10s);
  if (!line) fail("no answer to " + method);
  Json r = Json::parse(*line);
  if (r["ok"] != true) fail(method + ": " + r.dump());
  return r["result"];
}

// The bench's own view of one window's moves: the manager's synthetic ConfigureNotify, which
// carries the client's position in root coordinates.
class MoveView {
 public:
  MoveView(const std::string& display, xcb_window_t window)
      : link_(x11::XLink::connect(display)), window_(window) {
    if (!link_) fail("cannot connect to " + display);
    c_ = link_->get();
    moveResize_ = link_->internAtom("_NET_MOVERESIZE_WINDOW");
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c_, window_, XCB_CW_EVENT_MASK, &mask);
    if (!link_->sync()) fail("no answer from " + display);
  }

  // Asks the manager to move the window, as a pager does.
  void requestMove(int x, int y) {
    constexpr uint32_t kStaticGravity = 10, kPosition = 0x3 << 8, kFromPager = 2 << 12;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window_;
    event.type = moveResize_;
    const uint32_t data[5] = {kStaticGravity | kPosition | kFromPager, uint32_t(x), uint32_t(y), 0,
                              0};
    std::memcpy(event.data.data32, data, sizeof data);
    xcb_send_event(c_, 0, link_->root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(c_);
  }

  // When the server reported the window at (x, y).
  Clock::time_point waitForPosition(int x, int y) {
    const auto deadline = Clock::now() + 5s;
    for (;;) {
      while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
        const bool hit = (e->response_type & 0x7f) == XCB_CONFIGURE_NOTIFY && [&] {
          auto* n = reinterpret_cast<xcb_configure_notify_event_t*>(e);
          return n->window == window_ && n->x == x && n->y == y;
        }();
        std::free(e);
        if (hit) return Clock::now();
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) fail("the window never reached " + std::to_string(x));
      pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
      poll(&fd, 1, int(left.count()));
    }
  }

 private:
  std::unique_ptr<x11::XLink> link_;
  xcb_connection_t* c_ = nullptr;
  xcb_window_t window_;
  xcb_atom_t moveResize_ = XCB_ATOM_NONE;
};

// When the service's next AXMoved line for `pid` arrived.
Clock::time_point nextMoveLine(ServiceProcess& service, pid_t pid) {
  for (;;) {
    auto text = service.readLine(5s);
    if (!text) fail("no AXMoved line");
    const auto at = Clock::now();
    Json line = Json::parse(*text, nullptr, false);
    if (line.value("notification", "") == "AXMoved" && line.value("pid", 0) == pid) return at;
  }
}

Json quantiles(const std::vector<double>& samples) {
  return {{"median", quantile(samples, 0.5)}, {"p90", quantile(samples, 0.9)},
          {"max", quantile(samples, 1.0)}};
}

int run() {
  auto desktop = startDesktop();
  std::string error;
  const std::string title = "Bench events";
  pid_t fixture = desktop->launch({sibling("tavren-fixture-lifecycle-window"), "--title", title},
                                  &error);
  if (fixture <= 0) fail(error);
  auto window = desktop->clientWindow(fixture, title, 30s);
  if (!window) fail("no fixture window");
  pid_t factory = desktop->launch({"gtk3-widget-factory"}, &error);
  if (factory <= 0) fail(error);
  if (!desktop->waitForWindow(factory, "", 30s)) fail("no widget factory window");

  auto service = startService(*desktop);
  call(*service, "warm", "listRunningApps", Json::object());
  const double idleBefore = cpuPercent(service->pid(), kIdleSample);
  call(*service, "wf", "watchApp", {{"pid", factory}});
  call(*service, "wx", "watchApp", {{"pid", fixture}});
  const double factoryCpu = cpuPercent(factory, 1s);
  const double idleWatching = cpuPercent(service->pid(), kIdleSample);

  MoveView view(desktop->display(), *window);
  std::vector<double> fromChange, peerFromRequest, serviceFromRequest;
  for (int i = 0; i < kMoves; ++i) {
    const int x = 100 + 40 * (i % 2), y = 120;
    const auto asked = Clock::now();
    view.requestMove(x, y);
    const auto seen = view.waitForPosition(x, y);
    const auto line = nextMoveLine(*service, fixture);
    fromChange.push_back(micros(line - seen) / 1000.0);
    peerFromRequest.push_back(micros(seen - asked) / 1000.0);
    serviceFromRequest.push_back(micros(line - asked) / 1000.0);
  }

  Json out = {
      {"bench", "events"},
      {"moves", kMoves},
      {"lineAfterXReportMs", quantiles(fromChange)},
      {"peerXClientAfterRequestMs", quantiles(peerFromRequest)},
      {"lineAfterRequestMs", quantiles(serviceFromRequest)},
      {"idleCpuPercentBeforeWatching", idleBefore},
      {"idleCpuPercentWatching", idleWatching},
      {"watchedFactoryCpuPercent", factoryCpu},
  };
  std::cout << out.dump() << "\n";
  service->closeInput();
  service->wait(10s);
  desktop->stop();
  return 0;
}

}  // namespace
}  // namespace tavren::bench

int main() { return tavren::bench::run(); }
