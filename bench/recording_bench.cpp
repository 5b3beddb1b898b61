// Interaction recording on its own headless desktop: the delay from an XTest press to its
// "recordingAction" line, for a key in a GTK field (focused element looked up), a click on a
// field (element under the pointer), and as the reference measured in the same run, a click on
// the bare desktop (the same path without any element lookup); then a burst of 1,000 key
// presses, checked for lost and reordered lines. (xev, tried as an outside peer, prints no
// XTest click on this desktop.)
#include <X11/keysym.h>
#include <signal.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <iostream>
#include <thread>

#include "bench_desktop.h"
#include "core/json.h"
#include "platform/linux/x11/x_link.h"

namespace tavren::bench {
namespace {

using namespace std::chrono_literals;

class Devices {
 public:
  explicit Devices(const std::string& display) : link_(x11::XLink::connect(display)) {
    if (!link_) fail("no X connection");
    c_ = link_->get();
    const xcb_setup_t* s = xcb_get_setup(c_);
    auto r = link_->reply(
        xcb_get_keyboard_mapping_reply,
        xcb_get_keyboard_mapping(c_, s->min_keycode, s->max_keycode - s->min_keycode + 1));
    if (!r) fail("no keymap");
    const xcb_keysym_t* k = xcb_get_keyboard_mapping_keysyms(r.get());
    const int n = xcb_get_keyboard_mapping_keysyms_length(r.get());
    for (int i = 0; i < n; ++i) {
      if (k[i] == XK_Escape && !escape_) escape_ = s->min_keycode + i / r->keysyms_per_keycode;
      if (k[i] == XK_a && !letter_) letter_ = s->min_keycode + i / r->keysyms_per_keycode;
    }
  }
  void move(int x, int y) { fake(XCB_MOTION_NOTIFY, 0, x, y); }
  void click() {
    fake(XCB_BUTTON_PRESS, 1);
    fake(XCB_BUTTON_RELEASE, 1);
  }
  void key(bool letter) {
    fake(XCB_KEY_PRESS, letter ? letter_ : escape_);
    fake(XCB_KEY_RELEASE, letter ? letter_ : escape_);
  }

 private:
  void fake(uint8_t type, uint8_t detail, int x = 0, int y = 0) {
    xcb_test_fake_input(c_, type, detail, XCB_CURRENT_TIME, link_->root(), x, y, 0);
    link_->sync();
  }
  std::unique_ptr<x11::XLink> link_;
  xcb_connection_t* c_;
  uint8_t escape_ = 0, letter_ = 0;
};

// The next "recordingAction" line, or none within the limit.
std::optional<Json> nextEvent(ServiceProcess& service, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    auto line = service.readLine(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    if (!line) return std::nullopt;
    Json v = Json::parse(*line, nullptr, false);
    if (v.is_object() && v.value("event", "") == "recordingAction") return v;
  }
  return std::nullopt;
}

Json call(ServiceProcess& service, const std::string& id, const std::string& method,
          const Json& params) {
  service.send(requestLine(id, method, params.dump()));
  auto line = service.responseFor(id, 30s);
  if (!line) fail("no answer to " + method);
  return Json::parse(*line);
}

// Ms from each input to its line; `withoutElement` counts the lines that came without one.
std::vector<double> delays(ServiceProcess& service, const std::function<void()>& input, int count,
                           int* withoutElement) {
  std::vector<double> samples;
  for (int i = 0; i < count; ++i) {
    const auto t0 = Clock::now();
    input();
    std::optional<Json> event = nextEvent(service, 5s);
    if (!event) fail("an input gave no line");
    if (!event->contains("role")) ++*withoutElement;
    samples.push_back(micros(Clock::now() - t0) / 1000);
    std::this_thread::sleep_for(5ms);
  }
  return samples;
}

}  // namespace
}  // namespace tavren::bench

int main() {
  using namespace tavren::bench;
  using tavren::Json;
  auto desktop = startDesktop();
  std::string error;
  const pid_t form =
      desktop->launch({sibling("tavren-fixture-login-form"), "bench-secret"}, &error);
  if (form <= 0) fail(error);
  if (!desktop->waitForWindow(form, "Tavren Login", 30s)) fail("the form did not show");
  auto service = startService(*desktop);
  for (int i = 0;; ++i) {  // until the form answers accessibility
    Json tree =
        call(*service, "t" + std::to_string(i), "axTree", {{"pid", form}, {"maxElements", 5}});
    if (tree["ok"] == true && tree["result"]["elements"].size() >= 2) break;
    if (i > 100) fail("the form never registered");
    std::this_thread::sleep_for(100ms);
  }
  Json frame = call(*service, "w", "windowServerWindows", {{"pid", form}})["result"]["windows"][0];
  const int x = frame["x"].get<int>() + frame["w"].get<int>() / 2;
  const int y = frame["y"].get<int>() + 20;
  Devices devices(desktop->display());
  Json out = {{"bench", "recording"}};
  if (call(*service, "s", "startRecording", {{"recordingId", "bench"}})["result"]["recording"] !=
      true) {
    fail("recording did not start");
  }
  constexpr int kSamples = 100;
  devices.move(x, y);
  devices.click();
  nextEvent(*service, 5s);
  int keysWithout = 0, clicksWithout = 0, bareWithout = 0;
  out.update(quantileFigures("keyToLineMs",
                             delays(
                                 *service, [&] { devices.key(false); }, kSamples, &keysWithout),
                             90));
  out.update(quantileFigures("clickOnFieldToLineMs",
                             delays(
                                 *service, [&] { devices.click(); }, kSamples, &clicksWithout),
                             90));
  devices.move(5, 1070);  // bare desktop
  out.update(quantileFigures("clickOnDesktopToLineMs",
                             delays(
                                 *service, [&] { devices.click(); }, kSamples, &bareWithout),
                             90));
  out["keyLinesWithoutElement"] = keysWithout;
  out["clickLinesWithoutElement"] = clicksWithout;

  // A burst of key presses into the field, as fast as XTest takes them.
  call(*service, "s2", "startRecording", {{"recordingId", "burst"}});
  devices.move(x, y);
  constexpr int kBurst = 1000;
  const auto t0 = Clock::now();
  for (int i = 0; i < kBurst; ++i) devices.key(true);
  int received = 0, outOfOrder = 0, burstWithout = 0;
  int64_t last = 0;
  while (received < kBurst) {
    std::optional<Json> event = nextEvent(*service, 10s);
    if (!event) break;
    const int64_t sequence = (*event)["sequence"].get<int64_t>();
    if (sequence != last + 1) ++outOfOrder;
    last = sequence;
    ++received;
    if (!event->contains("role")) ++burstWithout;
  }
  out["burstKeys"] = kBurst;
  out["burstLines"] = received;
  out["burstOutOfOrder"] = outOfOrder;
  out["burstLinesWithoutElement"] = burstWithout;
  out["burstS"] = micros(Clock::now() - t0) / 1e6;
  out["burstEventCount"] =
      call(*service, "stop", "stopRecording", Json::object())["result"]["eventCount"];
  kill(form, SIGTERM);
  std::cout << out.dump() << "\n";
  return 0;
}
