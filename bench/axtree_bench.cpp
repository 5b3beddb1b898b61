// "axTree" figures through the service binary on a headless desktop, against a node-by-node
// pyatspi walk of the same application in the same run: whole-tree snapshot times of
// gtk3-widget-factory, and row throughput on a window of 5,000 labels. Beside each, the floor
// measured in the same run: what the application and the X server spend answering the reads.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
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

// What a process has used of the CPU so far, in milliseconds (user plus system): the scripts
// below read it for the application and the X server around their own reads only.
constexpr const char* kCpuOfPy = R"(
import os
def cpu(pid):
    try:
        with open('/proc/%d/stat' % pid) as f: s = f.read()
    except OSError: return 0.0
    f = s[s.rindex(')') + 2:].split()
    return (int(f[11]) + int(f[12])) * 1000.0 / os.sysconf('SC_CLK_TCK')
)";

// Reads role, name, states and extents of every node, one call at a time, as a script would.
// Arguments: the application's pid, the X server's pid, runs. Also says what the application
// and the X server spent per walk.
constexpr const char* kPyatspiWalk = R"(
import json, sys, time
import pyatspi
pid, xpid, runs = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
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
app0, x0, t0 = cpu(pid), cpu(xpid), time.perf_counter()
for _ in range(runs):
    t = time.perf_counter(); nodes = walk(app); times.append((time.perf_counter() - t) * 1000)
wall = (time.perf_counter() - t0) * 1000 / runs
times.sort()
print(json.dumps({"medianMs": times[len(times) // 2], "meanMs": wall, "nodes": nodes,
                  "appCpuMs": (cpu(pid) - app0) / runs, "xServerCpuMs": (cpu(xpid) - x0) / runs}))
)";

// The least any reader must make the application do to learn role, name, states and extents of
// every node: the toolkit's cache in one call (role, name, states) and each window's screen
// extents in one Collection.GetTree call, nothing else (GTK 3, whose bridge answers both). The
// application answers one call at a time, and GTK asks the X server for a window origin for
// every box, so the time it takes to answer these two is the least time in which any reader
// can have the four facts of every node. Timed per call, without taking the reply apart; also
// what the application and the X server spent per read.
constexpr const char* kLeastRead = R"(
import json, sys, time
from gi.repository import Gio, GLib
pid, xpid, runs = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
def raw(bus, name, path, iface, method, args, reply):
    return bus.call_sync(name, path, iface, method, args, GLib.VariantType(reply),
                         Gio.DBusCallFlags.NONE, 10000, None)
def call(*args): return raw(*args).unpack()
address = call(session, 'org.a11y.Bus', '/org/a11y/bus', 'org.a11y.Bus', 'GetAddress', None, '(s)')[0]
bus = Gio.DBusConnection.new_for_address_sync(address,
    Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
    None, None)
root = None
for name, path in call(bus, 'org.a11y.atspi.Registry', '/org/a11y/atspi/accessible/root',
                       'org.a11y.atspi.Accessible', 'GetChildren', None, '(a(so))')[0]:
    try:
        owner = call(bus, 'org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                     'GetConnectionUnixProcessID', GLib.Variant('(s)', (name,)), '(u)')[0]
    except GLib.Error: continue
    if owner == pid: root = (name, path)
if root is None: sys.exit('not registered')
windows = call(bus, root[0], root[1], 'org.a11y.atspi.Accessible', 'GetChildren', None, '(a(so))')[0]
rule = ([], 1, {}, 1, [], 1, [], 1, False)
def read():
    t = time.perf_counter()
    items = raw(bus, root[0], '/org/a11y/atspi/cache', 'org.a11y.atspi.Cache', 'GetItems', None,
                '(a((so)(so)(so)iiassusau))')
    itemsMs = (time.perf_counter() - t) * 1000
    t = time.perf_counter()
    trees = [raw(bus, name, path, 'org.a11y.atspi.Collection', 'GetTree',
                 GLib.Variant('((aiia{ss}iaiiasib)as)', (rule, ['Component.ScreenExtents'])),
                 '(a((so)a{sv}))') for name, path in windows]
    treeMs = (time.perf_counter() - t) * 1000
    return itemsMs, treeMs, items.get_child_value(0).n_children(), \
        sum(tree.get_child_value(0).n_children() for tree in trees)
read()
items, trees = [], []
app0, x0, t0 = cpu(pid), cpu(xpid), time.perf_counter()
for _ in range(runs):
    itemsMs, treeMs, nodes, boxes = read()
    items.append(itemsMs); trees.append(treeMs)
wall = (time.perf_counter() - t0) * 1000 / runs
items.sort(); trees.sort()
print(json.dumps({"itemsMs": items[runs // 2], "treeMs": trees[runs // 2], "meanMs": wall,
                  "nodes": nodes, "boxes": boxes, "appCpuMs": (cpu(pid) - app0) / runs,
                  "xServerCpuMs": (cpu(xpid) - x0) / runs}))
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

// Runs one of the scripts above on the desktop for the application, `runs` times over.
Json pythonReads(const headless::HeadlessDesktop& desktop, const char* source, pid_t pid,
                 pid_t xServer, int runs) {
  const std::string script = "/tmp/tavren-axtree-reads-" + std::to_string(getpid()) + ".py";
  std::ofstream(script) << kCpuOfPy << source;
  std::string error;
  auto reader = ServiceProcess::start({"/usr/bin/python3", script, std::to_string(pid),
                                       std::to_string(xServer), std::to_string(runs)},
                                      desktop.environment(), &error);
  if (!reader) fail(error);
  auto line = reader->readLine(600s);
  reader->wait(10s);
  unlink(script.c_str());
  if (!line) fail("a python reader gave no figures: " + reader->errorOutput());
  return Json::parse(*line);
}

struct Snapshots {
  double medianMs = 0;
  double p90Ms = 0;
  double meanMs = 0;  // wall time per tree, for the share of idle CPU in the figures below
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
  Clock::time_point began;
  for (int i = -3; i < runs; ++i) {  // three to warm up
    if (i == 0) {
      appCpu = cpuMillis(pid);
      serviceCpu = cpuMillis(service.pid());
      xServerCpu = cpuMillis(xServer);
      began = Clock::now();
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
          micros(Clock::now() - began) / 1000 / runs,
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
  // What the application and the X server spend with nobody asking (the factory's animations),
  // per second, taken off the CPU figures of the floors below.
  struct Idle {
    double app = 0, xServer = 0;
    double during(double ms) const { return (app + xServer) * ms / 1000; }
  };
  auto idleOf = [&](pid_t pid) {
    const double app0 = cpuMillis(pid), x0 = cpuMillis(xServer);
    std::this_thread::sleep_for(2s);
    return Idle{(cpuMillis(pid) - app0) / 2, (cpuMillis(xServer) - x0) / 2};
  };
  const Idle factoryIdle = idleOf(factory);
  const Idle labelsIdle = idleOf(labels);

  const Snapshots factoryTrees = axTrees(*service, factory, xServer, 30);
  const Json walk = pythonReads(*desktop, kPyatspiWalk, factory, xServer, 10);
  const Json least = pythonReads(*desktop, kLeastRead, factory, xServer, 30);
  const Snapshots labelTrees = axTrees(*service, labels, xServer, 10);
  const Snapshots qtTrees = axTrees(*service, qt, xServer, 10);
  const double walkMs = walk["medianMs"].get<double>();

  // The floors. What the application and the X server (GTK asks it for a window origin for every
  // screen position) spend answering, without their idle use: they answer one call at a time,
  // so no reader asking what axTree asks can finish sooner, however little it spends itself.
  // And the time the application takes to answer the least read of role, name, states and
  // extents (the goal's definition): the ratio of the walk to it is the best any reader asking
  // those four could reach.
  auto answering = [](double appCpuMs, double xServerCpuMs, double wallMs, const Idle& idle) {
    return std::max(0.0, appCpuMs + xServerCpuMs - idle.during(wallMs));
  };
  const double factoryFloorMs = answering(factoryTrees.appCpuMs, factoryTrees.xServerCpuMs,
                                          factoryTrees.meanMs, factoryIdle);
  const double leastMs = least["itemsMs"].get<double>() + least["treeMs"].get<double>();
  const double leastCpuMs =
      answering(least["appCpuMs"].get<double>(), least["xServerCpuMs"].get<double>(),
                least["meanMs"].get<double>(), factoryIdle);
  const double walkAnsweringMs =
      answering(walk["appCpuMs"].get<double>(), walk["xServerCpuMs"].get<double>(),
                walk["meanMs"].get<double>(), factoryIdle);
  const double labelsAppMs = std::max(
      0.0, labelTrees.appCpuMs - labelsIdle.app * labelTrees.meanMs / 1000);

  Json out = {{"bench", "axtree"},
              {"widgetFactoryRows", factoryTrees.rows},
              {"widgetFactoryAxTreeMsMedian", factoryTrees.medianMs},
              {"widgetFactoryAxTreeMsP90", factoryTrees.p90Ms},
              {"widgetFactoryAppCpuMsPerTree", factoryTrees.appCpuMs},
              {"widgetFactoryServiceCpuMsPerTree", factoryTrees.serviceCpuMs},
              {"widgetFactoryXServerCpuMsPerTree", factoryTrees.xServerCpuMs},
              {"widgetFactoryIdleCpuMsPerSecond", factoryIdle.app},
              {"widgetFactoryIdleXServerCpuMsPerSecond", factoryIdle.xServer},
              {"pyatspiWalkNodes", walk["nodes"]},
              {"pyatspiWalkMsMedian", walkMs},
              {"pyatspiWalkAppCpuMs", walk["appCpuMs"]},
              {"pyatspiWalkXServerCpuMs", walk["xServerCpuMs"]},
              {"pyatspiWalkAnsweringMs", walkAnsweringMs},
              {"speedupOverPyatspiWalk", walkMs / factoryTrees.medianMs},
              // App plus X server CPU per axTree, less their idle use: the tree's CPU floor.
              {"factoryFloorMsPerTree", factoryFloorMs},
              {"factoryFloorRatio", walkMs / factoryFloorMs},
              // The least read of role, name, states and extents: GetItems, then GetTree.
              {"factoryLeastReadNodes", least["nodes"]},
              {"factoryLeastReadBoxes", least["boxes"]},
              {"factoryLeastReadItemsMs", least["itemsMs"]},
              {"factoryLeastReadTreeMs", least["treeMs"]},
              {"factoryLeastReadMs", leastMs},
              {"factoryLeastReadCpuMs", leastCpuMs},
              {"factoryLeastReadFloorRatio", walkMs / leastMs},
              {"manyLabelsRows", labelTrees.rows},
              {"manyLabelsAxTreeMsMedian", labelTrees.medianMs},
              {"manyLabelsAppCpuMsPerTree", labelTrees.appCpuMs},
              {"manyLabelsServiceCpuMsPerTree", labelTrees.serviceCpuMs},
              {"manyLabelsXServerCpuMsPerTree", labelTrees.xServerCpuMs},
              {"manyLabelsRowsPerSecond", labelTrees.rows / (labelTrees.medianMs / 1000)},
              // The rows per second the application's own CPU allows.
              {"labelsRowsPerSecondAppBound", labelTrees.rows / (labelsAppMs / 1000)},
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
