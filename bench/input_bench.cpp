// Background input figures on a fixture window covered by another application's window:
// "postMouse" clicks and "postKey" presses through the service binary, timed by the host, less
// the fixed pauses of each sequence; 200 sequential keys read back from the fixture's report;
// and `xdotool click --window` / `xdotool key --window` on the same window in the same run, with
// what each delivered. Starts its own headless desktop.

#include <unistd.h>

#include <iostream>
#include <map>
#include <thread>

#include "apps/fixture_report.h"
#include "bench_desktop.h"
#include "cli/service_process.h"
#include "core/json.h"
#include "headless/headless_desktop.h"

namespace tavren::bench {
namespace {

using namespace std::chrono_literals;

constexpr double kClickPausesMs = 110, kKeyPausesMs = 40, kScrollPausesMs = 20, kMovePausesMs = 80,
                 kDragPausesMs = 206;

// Waits (bounded) until the report's field reads `value`; the value read last.
std::string waitReport(const std::string& path, const std::string& field,
                       const std::string& value) {
  const auto deadline = Clock::now() + 10s;
  std::string now;
  while (Clock::now() < deadline) {
    now = readFixtureReport(path)[field];
    if (now == value) break;
    std::this_thread::sleep_for(5ms);
  }
  return now;
}

Json call(ServiceProcess& service, const std::string& method, const Json& params) {
  service.send(requestLine("b", method, params.dump()));
  auto line = service.responseFor("b", 10s);
  if (!line) fail("no answer to " + method);
  Json response = Json::parse(*line);
  if (!response.value("ok", false)) fail(method + " failed: " + *line);
  return response["result"];
}

// Milliseconds beyond the sequence's own pauses, per request. Presses are spaced by `gap`,
// untimed: a press sooner after the last one in the same window would wait so as not to become
// its double click.
std::vector<double> overheadSamples(ServiceProcess& service, const std::string& method,
                                    const Json& params, double pausesMs, int count,
                                    std::chrono::milliseconds gap = 0ms) {
  std::vector<double> samples;
  for (int i = 0; i < count; ++i) {
    std::this_thread::sleep_for(gap);
    auto t0 = Clock::now();
    call(service, method, params);
    samples.push_back(micros(Clock::now() - t0) / 1000.0 - pausesMs);
  }
  return samples;
}

std::vector<double> runSamples(const headless::HeadlessDesktop& desktop,
                               const std::vector<std::string>& args, int count) {
  std::vector<double> samples;
  for (int i = 0; i < count; ++i) {
    auto t0 = Clock::now();
    if (!runToEnd(args, desktop.childEnvironment())) fail(args[0] + " " + args[1] + " failed");
    samples.push_back(micros(Clock::now() - t0) / 1000.0);
  }
  return samples;
}

}  // namespace
}  // namespace tavren::bench

int main() {
  using namespace tavren::bench;
  using tavren::Json;
  using tavren::readFixtureReport;
  const std::string report = "/tmp/tavren-input-bench-" + std::to_string(getpid()) + ".txt";
  auto desktop = startDesktop();
  std::string error;
  const pid_t probe =
      desktop->launch({sibling("tavren-fixture-input-probe"), "--report", report}, &error);
  if (probe <= 0) fail(error);
  auto window = desktop->clientWindow(probe, "Tavren input probe", 30s);
  if (!window) fail("the probe window did not show");
  const pid_t cover = desktop->launch(
      {sibling("tavren-fixture-titled-window"), "--title", "Bench cover", "--size", "1900x1000"},
      &error);
  if (cover <= 0 || !desktop->waitForWindow(cover, "Bench cover", 30s)) fail("no cover");
  auto service = startService(*desktop);

  // Where the probe is: its record in the window list.
  Json frame;
  for (const Json& w : call(*service, "windowCatalog", Json::object())) {
    if (w["id"] == *window) frame = w;
  }
  if (frame.is_null()) fail("the probe is not listed");
  const int ox = frame["x"], oy = frame["y"];
  const Json button = {{"pid", probe}, {"x", ox + 70}, {"y", oy + 30}, {"windowId", *window}};
  const Json entry = {{"pid", probe}, {"x", ox + 150}, {"y", oy + 75}, {"windowId", *window}};

  Json out = {{"bench", "input"}};
  // Warm up, then clicks: each one must arrive.
  call(*service, "postMouse", button);
  waitReport(report, "clicks", "1");
  std::vector<double> clicks =
      overheadSamples(*service, "postMouse", button, kClickPausesMs, 30, 850ms);
  out["clicksDelivered"] = std::stoi(waitReport(report, "clicks", "31")) - 1;
  out["clicksSent"] = 30;
  out.update(quantileFigures("postMouseClickOverheadMs", clicks, 99));
  Json move = button;
  move["kind"] = "move";
  out.update(quantileFigures("postMouseMoveOverheadMs",
                             overheadSamples(*service, "postMouse", move, kMovePausesMs, 30), 99));
  Json drag = {{"pid", probe},    {"kind", "drag"},  {"x", ox + 20},       {"y", oy + 300},
               {"toX", ox + 200}, {"toY", oy + 300}, {"windowId", *window}};
  out.update(quantileFigures("postMouseDragOverheadMs",
                             overheadSamples(*service, "postMouse", drag, kDragPausesMs, 10, 850ms),
                             99));
  Json scroll = {
      {"pid", probe}, {"x", ox + 150}, {"y", oy + 220}, {"dy", -1}, {"windowId", *window}};
  out.update(quantileFigures("postScrollOverheadMs",
                             overheadSamples(*service, "postScroll", scroll, kScrollPausesMs, 30),
                             99));

  // 200 keys into the entry, read back whole: letters a, s, d, f in turn.
  std::this_thread::sleep_for(850ms);
  call(*service, "postMouse", entry);
  const int codes[] = {0, 1, 2, 3};
  const char letters[] = "asdf";
  std::string expected;
  std::vector<double> keys;
  for (int i = 0; i < 200; ++i) {
    auto t0 = Clock::now();
    call(*service, "postKey", {{"pid", probe}, {"keyCode", codes[i % 4]}});
    keys.push_back(micros(Clock::now() - t0) / 1000.0 - kKeyPausesMs);
    expected += letters[i % 4];
  }
  const std::string typed = waitReport(report, "entry", expected);
  out["postKeyTyped"] = typed.size();
  out["postKeyLost"] = expected.size() - std::min(expected.size(), typed.size());
  out["postKeyExact"] = typed == expected;
  out.update(quantileFigures("postKeyOverheadMs", keys, 99));

  // xdotool on the same covered window: what arrives, and the time per event (its process start
  // included, as a host would pay it).
  const std::string id = std::to_string(*window);
  const int before = std::stoi(readFixtureReport(report)["clicks"]);
  std::vector<double> xclicks = runSamples(*desktop, {"xdotool", "click", "--window", id, "1"}, 20);
  std::this_thread::sleep_for(300ms);
  out["xdotoolClicksDelivered"] = std::stoi(readFixtureReport(report)["clicks"]) - before;
  out["xdotoolClicksSent"] = 20;
  out.update(quantileFigures("xdotoolClickMs", xclicks, 99));
  const std::string entryBefore = readFixtureReport(report)["entry"];
  std::vector<double> xkeys = runSamples(*desktop, {"xdotool", "key", "--window", id, "a"}, 20);
  std::this_thread::sleep_for(300ms);
  out["xdotoolKeysDelivered"] = readFixtureReport(report)["entry"].size() - entryBefore.size();
  out["xdotoolKeysSent"] = 20;
  out.update(quantileFigures("xdotoolKeyMs", xkeys, 99));
  out["postKeyTotalMsP50"] = quantile(keys, 0.5) + kKeyPausesMs;

  std::cout << out.dump(2) << "\n";
  unlink(report.c_str());
  service->closeInput();
  service->wait(5s);
  desktop->stop();
}
