// Acting through the service binary on a headless desktop: "setAXValue" on an entry and
// "performAXAction" on a button of the act-form fixture, each a median round trip, against a
// running pyatspi process that resolves the same path from the application by child indexes
// and does the same, in the same run. Both are asked over a pipe, one request at a time.
// libatspi answers pyatspi's child look-ups from a cache it keeps up to date from the
// application's events, so only the act itself is a call there. A second pyatspi process clears
// that cache before each command (Accessible.clear_cache), so it resolves afresh; the service
// confirms a path it resolved before in one round trip.
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <thread>

#include "bench_desktop.h"
#include "cli/service_process.h"
#include "core/json.h"
#include "headless/headless_desktop.h"

namespace tavren::bench {
namespace {

using namespace std::chrono_literals;

// Finds the application once, then answers one line per command: "set PATH VALUE" or
// "press PATH", where PATH is child indexes from the application ("0.0.3"). A second argument
// "uncached" clears libatspi's cache of the application before each command.
constexpr const char* kPyatspiActor = R"(
import sys, time
import pyatspi
pid = int(sys.argv[1])
app = None
for _ in range(100):
    for a in pyatspi.Registry.getDesktop(0):
        try:
            if a is not None and a.get_process_id() == pid: app = a
        except Exception: pass
    if app: break
    time.sleep(0.1)
uncached = sys.argv[2:] == ["uncached"]
print("ready", flush=True)
for line in sys.stdin:
    verb, path, *rest = line.rstrip("\n").split(" ", 2)
    if uncached:
        app.clear_cache()
    acc = app
    for i in path.split("."):
        acc = acc.getChildAtIndex(int(i))
    if verb == "set":
        ok = acc.queryEditableText().setTextContents(rest[0] if rest else "")
    else:
        ok = acc.queryAction().doAction(0)
    print("ok" if ok else "failed", flush=True)
)";

struct Figures {
  double medianMs = 0;
  double p90Ms = 0;
};

template <class Ask>
Figures timed(int runs, Ask ask) {
  std::vector<double> samples;
  for (int i = -5; i < runs; ++i) {  // five to warm up
    auto t0 = Clock::now();
    ask(i);
    if (i >= 0) samples.push_back(micros(Clock::now() - t0) / 1000);
  }
  return {quantile(samples, 0.5), quantile(samples, 0.9)};
}

Figures serviceCalls(ServiceProcess& service, const std::string& method, const Json& params,
                     int runs) {
  return timed(runs, [&](int i) {
    const std::string id = method + std::to_string(i);
    service.send(requestLine(id, method, params.dump()));
    auto line = service.responseFor(id, 30s);
    if (!line) fail("no answer to " + method);
    Json r = Json::parse(*line);
    if (r["result"]["status"] != "ok") fail(method + " answered " + r.dump());
  });
}

Figures actorCalls(ServiceProcess& actor, const std::string& command, int runs) {
  return timed(runs, [&](int) {
    actor.send(command + "\n");
    auto line = actor.readLine(30s);
    if (!line || *line != "ok") fail("pyatspi answered " + line.value_or("nothing"));
  });
}
}  // namespace
}  // namespace tavren::bench

int main() {
  using namespace tavren;
  using namespace tavren::bench;
  std::string error;
  auto desktop = startDesktop();
  const pid_t form = desktop->launch({sibling("tavren-fixture-act-form")}, &error);
  if (form <= 0) fail(error);
  if (!desktop->waitForWindow(form, "Tavren Act", 30s)) fail("the form showed no window");
  auto service = startService(*desktop);
  awaitTreeRows(*service, form);

  const std::string script = "/tmp/tavren-pyatspi-act-" + std::to_string(getpid()) + ".py";
  std::ofstream(script) << kPyatspiActor;
  auto startActor = [&](const char* mode) {
    auto actor = ServiceProcess::start({"/usr/bin/python3", script, std::to_string(form), mode},
                                       desktop->environment(), &error);
    if (!actor) fail(error);
    auto ready = actor->readLine(60s);
    if (!ready || *ready != "ready") fail("pyatspi did not start: " + actor->errorOutput());
    return actor;
  };
  auto actor = startActor("cached");
  auto uncached = startActor("uncached");
  unlink(script.c_str());

  constexpr int kRuns = 100;
  const Json setParams = {{"pid", form}, {"path", "w0.0.3"}, {"value", "Hello bench"}};
  const Json pressParams = {{"pid", form}, {"path", "w0.0.0"}, {"action", "AXPress"}};
  const Figures set = serviceCalls(*service, "setAXValue", setParams, kRuns);
  const Figures press = serviceCalls(*service, "performAXAction", pressParams, kRuns);
  const Figures pySet = actorCalls(*actor, "set 0.0.3 Hello bench", kRuns);
  const Figures pyPress = actorCalls(*actor, "press 0.0.0", kRuns);
  const Figures freshSet = actorCalls(*uncached, "set 0.0.3 Hello bench", kRuns);
  const Figures freshPress = actorCalls(*uncached, "press 0.0.0", kRuns);

  Json out = {{"bench", "act"},
              {"runs", kRuns},
              {"setAXValueMsMedian", set.medianMs},
              {"setAXValueMsP90", set.p90Ms},
              {"performAXActionMsMedian", press.medianMs},
              {"performAXActionMsP90", press.p90Ms},
              {"pyatspiSetMsMedian", pySet.medianMs},
              {"pyatspiPressMsMedian", pyPress.medianMs},
              {"setSpeedupOverPyatspi", pySet.medianMs / set.medianMs},
              {"pressSpeedupOverPyatspi", pyPress.medianMs / press.medianMs},
              {"pyatspiUncachedSetMsMedian", freshSet.medianMs},
              {"pyatspiUncachedPressMsMedian", freshPress.medianMs},
              {"setSpeedupOverUncachedPyatspi", freshSet.medianMs / set.medianMs},
              {"pressSpeedupOverUncachedPyatspi", freshPress.medianMs / press.medianMs}};
  for (auto* peer : {actor.get(), uncached.get()}) {
    peer->closeInput();
    peer->wait(10s);
  }
  service->closeInput();
  service->wait(10s);
  desktop->stop();
  std::cout << out.dump(2) << "\n";
}
