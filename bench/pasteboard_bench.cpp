// Clipboard snapshot and restore through the service, beside xclip moving the same bytes on the
// same desktop in the same run: 1 KiB of text and 10 MiB of image data, offered by a GTK
// application. Starts its own headless desktop.
//
//   snapshot   "pasteboardSnapshot" (read every target, store)   vs  xclip -o -t TYPE
//   restore    "pasteboardRestore" (take the clipboard)          vs  xclip -i -t TYPE FILE
//   readBack   a fresh xclip -o of the restored bytes            vs  the same after xclip -i
//
// xclip -i is started through `sh -c 'exec ... > /dev/null'` so that the owner it leaves behind
// holds no pipe of ours; that adds a shell's start to its figure.

#include <signal.h>

#include <fstream>
#include <thread>

#include "bench_desktop.h"
#include "cli/service_process.h"
#include "core/json.h"
#include "headless/headless_desktop.h"

namespace tavren::bench {
namespace {

using namespace std::chrono_literals;

std::string pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : s) {
    x = x * 1664525u + 1013904223u;
    c = char('a' + (x >> 24) % 26);
  }
  return s;
}

std::string writeFile(const std::string& name, const std::string& bytes) {
  const std::string path = "/tmp/tavren-bench-" + std::to_string(getpid()) + "-" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

Json call(ServiceProcess& service, const std::string& method, const std::string& name) {
  service.send(requestLine("b", method, Json{{"name", name}}.dump()));
  auto line = service.responseFor("b", 30s);
  if (!line) fail("no answer to " + method);
  Json response = Json::parse(*line);
  if (!response.value("ok", false)) fail(method + " failed: " + *line);
  return response["result"];
}

struct Case {
  std::string label;
  std::string type;
  std::string option;  // of the fixture application
  std::string bytes;
};

double msSince(Clock::time_point t0) {
  return micros(Clock::now() - t0) / 1000.0;
}

Json measure(headless::HeadlessDesktop& desktop, ServiceProcess& service, const Case& c,
             int rounds) {
  const std::vector<std::string> env = desktop.childEnvironment();
  const std::string file = writeFile(c.label, c.bytes);
  auto readBack = [&] {
    auto out = runToEnd({"xclip", "-o", "-selection", "clipboard", "-t", c.type}, env);
    if (!out || *out != c.bytes) fail(c.label + ": the clipboard did not hold the bytes");
  };
  auto xclipIn = [&] {
    auto out = runToEnd(
        {"sh", "-c",
         "exec xclip -i -selection clipboard -t '" + c.type + "' '" + file + "' > /dev/null 2>&1"},
        env);
    if (!out) fail("xclip -i failed");
  };
  std::vector<double> snapshot, restore, restoreRead, xclipOut, xclipInMs, xclipRead;
  for (int round = 0; round < rounds; ++round) {
    // The service, against the GTK application's clipboard.
    std::string error;
    const pid_t owner =
        desktop.launch({sibling("tavren-fixture-clipboard-source"), c.option, file}, &error);
    if (owner <= 0) fail(error);
    const auto deadline = Clock::now() + 30s;
    for (;;) {
      auto targets =
          runToEnd({"sh", "-c", "exec xclip -o -selection clipboard -t TARGETS 2> /dev/null"}, env);
      if (targets && targets->find(c.type) != std::string::npos) break;
      if (Clock::now() > deadline) fail("the fixture never owned the clipboard");
      std::this_thread::sleep_for(20ms);
    }
    auto t0 = Clock::now();
    call(service, "pasteboardSnapshot", c.label);
    snapshot.push_back(msSince(t0));
    // xclip reading the same owner.
    t0 = Clock::now();
    auto out = runToEnd({"xclip", "-o", "-selection", "clipboard", "-t", c.type}, env);
    xclipOut.push_back(msSince(t0));
    if (!out || *out != c.bytes) fail("xclip -o read other bytes");

    t0 = Clock::now();
    call(service, "pasteboardRestore", c.label);
    restore.push_back(msSince(t0));
    t0 = Clock::now();
    readBack();
    restoreRead.push_back(msSince(t0));
    kill(owner, SIGTERM);

    t0 = Clock::now();
    xclipIn();
    xclipInMs.push_back(msSince(t0));
    t0 = Clock::now();
    readBack();
    xclipRead.push_back(msSince(t0));
    // Empty the clipboard (a name never stored), so that xclip -i leaves and the next round's
    // wait sees the new fixture own it rather than xclip, which offers the same target.
    call(service, "pasteboardRestore", "never stored");
  }
  std::remove(file.c_str());
  Json j = {{"bytes", c.bytes.size()}, {"type", c.type}};
  j.update(quantileFigures("snapshotMs", snapshot, 99));
  j.update(quantileFigures("xclipOutMs", xclipOut, 99));
  j.update(quantileFigures("restoreMs", restore, 99));
  j.update(quantileFigures("xclipInMs", xclipInMs, 99));
  j.update(quantileFigures("readAfterRestoreMs", restoreRead, 99));
  j.update(quantileFigures("readAfterXclipInMs", xclipRead, 99));
  return j;
}

}  // namespace
}  // namespace tavren::bench

int main() {
  using namespace tavren::bench;
  auto desktop = startDesktop();
  auto service = startService(*desktop);
  tavren::Json out = {{"bench", "pasteboard"}};
  out["text1KiB"] =
      measure(*desktop, *service, {"text", "UTF8_STRING", "--text", pattern(1024, 1)}, 30);
  out["image10MiB"] =
      measure(*desktop, *service, {"image", "image/png", "--png", pattern(10u << 20, 2)}, 10);
  std::cout << out.dump(2) << "\n";
  service->closeInput();
  service->wait(5s);
  desktop->stop();
}
