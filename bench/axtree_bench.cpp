// "axTree" figures through the service binary on a headless desktop, against a node-by-node
// pyatspi walk of the same application in the same run: whole-tree snapshot times of
// gtk3-widget-factory, and row throughput on a window of 5,000 labels.
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <thread>

#include "bench_desktop.h"
#include "cli/service_process.h"
#include "core/json.h"
#include "headless/headless_desktop.h"
#include "headless/process_tree.h"

namespace tavren::bench {
namespace {

using namespace std::chrono_literals;

// Reads role, name, states and extents of every node, one call at a time, as a script would.
constexpr const char* kPyatspiWalk = R"(
import json, sys, time
import pyatspi
pid, runs = int(sys.argv[1]), int(sys.argv[2])
app = None
for _ in range(100):
    for a in pyatspi.Registry.getDesktop(0):
        try:
            if a is not None and a.get_process_id() == pid: app = a
        except Exception: pass
    if app: break
    time.sleep(0.1)
def walk(acc):
    n = 1
    acc.getRole(); acc.name; acc.getState()
    try: acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    except NotImplementedError: pass
    for child in acc:
        if child is not None: n += walk(child)
    return n
times, nodes = [], 0
for _ in range(runs):
    t = time.perf_counter(); nodes = walk(app); times.append((time.perf_counter() - t) * 1000)
times.sort()
print(json.dumps({"medianMs": times[len(times) // 2], "nodes": nodes}))
)";

// User plus system CPU time a process has used so far, in milliseconds (0 once it is gone).
double cpuMillis(pid_t pid) {
  const auto entry = procfs::readProcStat(pid);
  if (!entry) return 0;
  return static_cast<double>(entry->cpuTicks) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The desktop's X server: GTK asks it for a window origin on every read of a screen position.
pid_t xServerPid() {
  for (const procfs::ProcStat& entry : headless::readProcessTable()) {
    if (entry.ppid != getpid()) continue;
    std::ifstream comm("/proc/" + std::to_string(entry.pid) + "/comm");
    std::string name;
    if (std::getline(comm, name) && name == "Xvfb") return entry.pid;
  }
  return 0;
}

Json pyatspiWalk(const headless::HeadlessDesktop& desktop, pid_t pid, int runs) {
  const std::string script = "/tmp/tavren-pyatspi-walk-" + std::to_string(getpid()) + ".py";
  std::ofstream(script) << kPyatspiWalk;
  std::string error;
  auto walker =
      ServiceProcess::start({"/usr/bin/python3", script, std::to_string(pid), std::to_string(runs)},
                            desktop.environment(), &error);
  if (!walker) fail(error);
  auto line = walker->readLine(600s);
  walker->wait(10s);
  unlink(script.c_str());
  if (!line) fail("the pyatspi walk gave no figures: " + walker->errorOutput());
  return Json::parse(*line);
}

struct Snapshots {
  double medianMs = 0;
  double p90Ms = 0;
  size_t rows = 0;
  double appCpuMs = 0;      // the application's CPU time per tree
  double serviceCpuMs = 0;  // the service's
  double xServerCpuMs = 0;  // the X server's
};

Snapshots axTrees(ServiceProcess& service, pid_t pid, pid_t xServer, int runs) {
  const std::string params =
      "{\"pid\":" + std::to_string(pid) + ",\"maxElements\":2000,\"maxDepth\":30}";
  std::vector<double> samples;
  size_t rows = 0;
  double appCpu = 0, serviceCpu = 0, xServerCpu = 0;
  for (int i = -3; i < runs; ++i) {  // three to warm up
    if (i == 0) {
      appCpu = cpuMillis(pid);
      serviceCpu = cpuMillis(service.pid());
      xServerCpu = cpuMillis(xServer);
    }
    const std::string id = "t" + std::to_string(i);
    auto t0 = Clock::now();
    service.send(requestLine(id, "axTree", params));
    auto line = service.responseFor(id, 60s);
    const double ms = micros(Clock::now() - t0) / 1000;
    if (!line) fail("no answer to axTree");
    Json r = Json::parse(*line);
    rows = r["result"]["elements"].size();
    if (i >= 0) samples.push_back(ms);
  }
  return {quantile(samples, 0.5),
          quantile(samples, 0.9),
          rows,
          (cpuMillis(pid) - appCpu) / runs,
          (cpuMillis(service.pid()) - serviceCpu) / runs,
          (cpuMillis(xServer) - xServerCpu) / runs};
}
}  // namespace
}  // namespace tavren::bench

int main() {
  using namespace tavren;
  using namespace tavren::bench;
  std::string error;
  auto desktop = startDesktop();
  const pid_t factory = desktop->launch({"gtk3-widget-factory"}, &error);
  const pid_t labels = desktop->launch({sibling("tavren-fixture-many-labels"), "5000"}, &error);
  // Read node by node: Qt 5 has no cache to read from.
  const pid_t qt = desktop->launch(
      {"/usr/lib/x86_64-linux-gnu/qt5/examples/widgets/richtext/textedit/textedit"}, &error);
  if (factory <= 0 || labels <= 0 || qt <= 0) fail(error);
  if (!desktop->waitForWindow(factory, "", 30s) || !desktop->waitForWindow(labels, "", 30s) ||
      !desktop->waitForWindow(qt, "", 30s)) {
    fail("the applications showed no window");
  }
  auto service = startService(*desktop);
  awaitTreeRows(*service, factory);
  awaitTreeRows(*service, labels);
  awaitTreeRows(*service, qt);

  const pid_t xServer = xServerPid();
  // What the application spends with nobody asking (its animations), for the CPU figures.
  const double idleCpu = cpuMillis(factory);
  std::this_thread::sleep_for(2s);
  const double idleCpuPerSecond = (cpuMillis(factory) - idleCpu) / 2;

  const Snapshots factoryTrees = axTrees(*service, factory, xServer, 30);
  const Json walk = pyatspiWalk(*desktop, factory, 10);
  const Snapshots labelTrees = axTrees(*service, labels, xServer, 10);
  const Snapshots qtTrees = axTrees(*service, qt, xServer, 10);
  const double walkMs = walk["medianMs"].get<double>();

  Json out = {{"bench", "axtree"},
              {"widgetFactoryRows", factoryTrees.rows},
              {"widgetFactoryAxTreeMsMedian", factoryTrees.medianMs},
              {"widgetFactoryAxTreeMsP90", factoryTrees.p90Ms},
              {"widgetFactoryAppCpuMsPerTree", factoryTrees.appCpuMs},
              {"widgetFactoryServiceCpuMsPerTree", factoryTrees.serviceCpuMs},
              {"widgetFactoryXServerCpuMsPerTree", factoryTrees.xServerCpuMs},
              {"widgetFactoryIdleCpuMsPerSecond", idleCpuPerSecond},
              {"pyatspiWalkNodes", walk["nodes"]},
              {"pyatspiWalkMsMedian", walkMs},
              {"speedupOverPyatspiWalk", walkMs / factoryTrees.medianMs},
              {"manyLabelsRows", labelTrees.rows},
              {"manyLabelsAxTreeMsMedian", labelTrees.medianMs},
              {"manyLabelsAppCpuMsPerTree", labelTrees.appCpuMs},
              {"manyLabelsServiceCpuMsPerTree", labelTrees.serviceCpuMs},
              {"manyLabelsXServerCpuMsPerTree", labelTrees.xServerCpuMs},
              {"manyLabelsRowsPerSecond", labelTrees.rows / (labelTrees.medianMs / 1000)},
              {"qtRichTextRows", qtTrees.rows},
              {"qtRichTextAxTreeMsMedian", qtTrees.medianMs},
              {"qtRichTextAppCpuMsPerTree", qtTrees.appCpuMs},
              {"qtRichTextServiceCpuMsPerTree", qtTrees.serviceCpuMs},
              {"qtRichTextAliveAfter", kill(qt, 0) == 0}};
  service->closeInput();
  service->wait(10s);
  desktop->stop();
  std::cout << out.dump(2) << "\n";
}
