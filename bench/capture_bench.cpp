// Window capture figures: a 1280x800 window as JPEG and PNG through the service binary, beside
// ImageMagick's `import -window ID jpg:-` on the same window in the same run, and the service's
// peak memory when it captures a 3840x2160 window. Starts its own headless desktop.
#include <unistd.h>
#include <xcb/xcb.h>

#include <fstream>
#include <iostream>

#include "bench_desktop.h"
#include "cli/service_process.h"
#include "core/json.h"
#include "headless/headless_desktop.h"

namespace tavren::bench {
namespace {

using namespace std::chrono_literals;

xcb_window_t openWindow(headless::HeadlessDesktop& desktop, const std::string& title, int w, int h,
                        bool popup) {
  std::vector<std::string> argv = {sibling("tavren-fixture-color-blocks"),
                                   title,
                                   std::to_string(w),
                                   std::to_string(h),
                                   "1",
                                   "--busy"};
  if (popup) argv.insert(argv.end(), {"--popup", "0", "0"});
  std::string error;
  const pid_t pid = desktop.launch(argv, &error);
  if (pid <= 0) fail(error);
  const auto window = desktop.clientWindow(pid, title + " painted", 30s, popup);
  if (!window) fail("no window titled " + title + " painted");
  return *window;
}

std::string captureLine(xcb_window_t id, int maxWidth, bool png) {
  return requestLine("c", "captureWindow",
                     Json{{"windowId", id}, {"maxWidth", maxWidth}, {"guiCapture", png}}.dump());
}

// Milliseconds per capture through the service, request written to response read; also the
// size of the last encoded image.
Json serviceFigures(ServiceProcess& p, xcb_window_t id, int maxWidth, bool png, int count,
                    const std::string& prefix) {
  std::vector<double> samples;
  Json last;
  const std::string line = captureLine(id, maxWidth, png);
  for (int i = 0; i < count + 3; ++i) {
    auto t0 = Clock::now();
    p.send(line);
    // The one line this request brings back; read as it is, so the figure is the service's and
    // not the time this program takes to parse a megabyte of JSON.
    auto response = p.readLine(30s);
    if (!response) fail("no answer to captureWindow");
    if (i >= 3) samples.push_back(micros(Clock::now() - t0) / 1000.0);  // first 3 warm up
    last = Json::parse(*response);
  }
  if (last["ok"] != true) fail("capture failed: " + last.value("error", ""));
  const Json& r = last["result"];
  return {{prefix + "MsP50", quantile(samples, 0.5)},
          {prefix + "MsP90", quantile(samples, 0.9)},
          {prefix + "Size",
           std::to_string(r["width"].get<int>()) + "x" + std::to_string(r["height"].get<int>())},
          {prefix + "Base64Bytes", r["dataBase64"].get<std::string>().size()}};
}

// Milliseconds for `import -window ID [ARGS...] jpg:-` to run to its end, output read.
Json importFigures(const headless::HeadlessDesktop& desktop, xcb_window_t id,
                   const std::vector<std::string>& extra, int count, const std::string& prefix) {
  std::vector<std::string> args = {"import", "-window", std::to_string(id)};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back("jpg:-");
  const std::vector<std::string> env = desktop.childEnvironment();
  std::vector<double> samples;
  size_t bytes = 0;
  for (int i = 0; i < count + 1; ++i) {
    const auto t0 = Clock::now();
    const std::optional<std::string> image = runToEnd(args, env);
    if (!image || image->empty()) fail("import failed");
    bytes = image->size();
    if (i >= 1) samples.push_back(micros(Clock::now() - t0) / 1000.0);  // first one warms up
  }
  return {{prefix + "MsP50", quantile(samples, 0.5)}, {prefix + "Bytes", bytes}};
}

long statusKiB(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return -1;
}

// Peak resident memory of a fresh service that captures the window once.
Json peakFigures(const headless::HeadlessDesktop& desktop, xcb_window_t id, bool png) {
  auto p = startService(desktop);
  p->send(requestLine("w", "ping"));
  if (!p->responseFor("w", 30s)) fail("service did not start");
  const long idle = statusKiB(p->pid(), "VmHWM");
  p->send(captureLine(id, 4096, png));
  auto response = p->responseFor("c", 30s);
  if (!response || Json::parse(*response)["ok"] != true) fail("4K capture failed");
  const Json r = Json::parse(*response)["result"];
  return {{"size",
           std::to_string(r["width"].get<int>()) + "x" + std::to_string(r["height"].get<int>())},
          {"idlePeakKiB", idle},
          {"peakKiB", statusKiB(p->pid(), "VmHWM")}};
}

}  // namespace
}  // namespace tavren::bench

int main() {
  using namespace tavren::bench;
  auto desktop = startDesktop();
  const xcb_window_t window = openWindow(*desktop, "bench-1280x800", 1280, 800, false);

  tavren::Json out = {{"bench", "capture"}, {"window", "1280x800"}};
  {
    auto p = startService(*desktop);
    out.update(serviceFigures(*p, window, 1280, false, 60, "jpeg"));
    out.update(serviceFigures(*p, window, 1280, true, 30, "png"));
    out.update(serviceFigures(*p, window, 4096, false, 30, "jpegTwiceSize"));
  }
  // The command exactly as the target names it. It writes the same file as with
  // `-quality 85`, the service's quality: ImageMagick's default for this source is 85 as well.
  out.update(importFigures(*desktop, window, {}, 20, "importJpeg"));
  const double jpeg = out["jpegMsP50"].get<double>();
  out["jpegSpeedupOverImport"] = out["importJpegMsP50"].get<double>() / jpeg;
  out["jpegTargetsMet"] = jpeg < 25 && out["jpegSpeedupOverImport"].get<double>() >= 5;

  const xcb_window_t big = openWindow(*desktop, "bench-3840x2160", 3840, 2160, true);
  out["window3840x2160Jpeg"] = peakFigures(*desktop, big, false);
  out["window3840x2160Png"] = peakFigures(*desktop, big, true);
  desktop->stop();
  std::cout << out.dump(2) << "\n";
}
