// Window inventory figures with 50 windows open (5 processes of 10 windows each): "windowCatalog"
// through the service binary, beside `wmctrl -l -G -p` on the same desktop in the same run, and
// the two per-application views. Starts its own headless desktop.

#include <iostream>

#include "bench_desktop.h"
#include "cli/service_process.h"
#include "core/json.h"
#include "headless/headless_desktop.h"

namespace tavren::bench {
namespace {

using namespace std::chrono_literals;

constexpr int kProcesses = 5;
constexpr int kWindowsEach = 10;

std::vector<pid_t> openWindows(headless::HeadlessDesktop& desktop) {
  std::vector<pid_t> pids;
  for (int p = 1; p <= kProcesses; ++p) {
    const std::string title = "Bench " + std::to_string(p);
    std::string error;
    pid_t pid = desktop.launch({sibling("tavren-fixture-titled-window"), "--title", title, "--size",
                                "240x160", "--count", std::to_string(kWindowsEach)},
                               &error);
    if (pid <= 0) fail(error);
    // Windows are shown in order: the last one up means all are.
    if (!desktop.waitForWindow(pid, title + " " + std::to_string(kWindowsEach), 30s)) {
      fail("the windows of " + title + " did not show");
    }
    pids.push_back(pid);
  }
  return pids;
}

Json call(ServiceProcess& service, const std::string& method, const std::string& params) {
  service.send(requestLine("b", method, params));
  auto line = service.responseFor("b", 10s);
  if (!line) fail("no answer to " + method);
  Json response = Json::parse(*line);
  if (!response.value("ok", false)) fail(method + " failed: " + *line);
  return response["result"];
}

// Milliseconds per request, measured by the host: write, then the whole response line read.
std::vector<double> requestSamples(ServiceProcess& service, const std::string& method,
                                   const std::string& params, int count) {
  for (int i = 0; i < 20; ++i) call(service, method, params);  // warm up
  std::vector<double> samples;
  for (int i = 0; i < count; ++i) {
    auto t0 = Clock::now();
    call(service, method, params);
    samples.push_back(micros(Clock::now() - t0) / 1000.0);
  }
  return samples;
}

// Milliseconds for `wmctrl -l -G -p` to run to its end, output read.
std::vector<double> wmctrlSamples(const headless::HeadlessDesktop& desktop, int count,
                                  size_t* lines) {
  const std::vector<std::string> env = desktop.childEnvironment();
  std::vector<double> samples;
  for (int i = 0; i < count; ++i) {
    const auto t0 = Clock::now();
    const std::optional<std::string> text = runToEnd({"wmctrl", "-l", "-G", "-p"}, env);
    samples.push_back(micros(Clock::now() - t0) / 1000.0);
    if (!text) fail("wmctrl failed");
    *lines = size_t(std::count(text->begin(), text->end(), '\n'));
  }
  return samples;
}

}  // namespace
}  // namespace tavren::bench

int main() {
  using namespace tavren::bench;
  auto desktop = startDesktop();
  std::vector<pid_t> pids = openWindows(*desktop);
  auto service = startService(*desktop);

  tavren::Json out = {{"bench", "windows"}};
  out["catalogWindows"] = call(*service, "windowCatalog", "{}").size();
  size_t wmctrlLines = 0;
  // Interleaved in one run, so both see the same machine load.
  std::vector<double> catalog, wmctrl;
  for (int round = 0; round < 5; ++round) {
    auto c = requestSamples(*service, "windowCatalog", "{}", 100);
    auto w = wmctrlSamples(*desktop, 20, &wmctrlLines);
    catalog.insert(catalog.end(), c.begin(), c.end());
    wmctrl.insert(wmctrl.end(), w.begin(), w.end());
  }
  out["wmctrlWindows"] = wmctrlLines;
  out.update(quantileFigures("windowCatalogMs", catalog, 99));
  out.update(quantileFigures("wmctrlMs", wmctrl, 99));
  out["wmctrlOverWindowCatalogP50"] = quantile(wmctrl, 0.5) / quantile(catalog, 0.5);

  const std::string onePid = "{\"pid\":" + std::to_string(pids.front()) + "}";
  out.update(quantileFigures("windowServerWindowsMs",
                             requestSamples(*service, "windowServerWindows", onePid, 200), 99));
  out.update(
      quantileFigures("appWindowsMs", requestSamples(*service, "appWindows", onePid, 200), 99));
  std::cout << out.dump(2) << "\n";
  service->closeInput();
  service->wait(5s);
  desktop->stop();
}
