// The desktop failing under the service: the X server dies, the accessibility bus crashes and
// comes back, the window manager is replaced. The service keeps answering every request (with
// errors where what it needs is gone), takes up what comes back without a restart, stays quiet
// on standard error and ends cleanly at end of input. Each test has a private desktop.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <thread>

#include "headless/headless_desktop.h"
#include "support/desktop_fixture.h"
#include "support/x_window_probe.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::readReport;
using headless::HeadlessDesktop;
using testing::call;
using testing::DesktopEnvironment;

const std::string kTitledWindow = std::string(TAVREN_BIN_DIR) + "/tavren-fixture-titled-window";
const std::string kQtClock =
    "/usr/lib/x86_64-linux-gnu/qt5/examples/widgets/widgets/analogclock/analogclock";

std::unique_ptr<HeadlessDesktop> privateDesktop(bool windowManager = true) {
  headless::DesktopOptions options;
  options.windowManager = windowManager;
  std::string error;
  auto desktop = HeadlessDesktop::start(options, &error);
  EXPECT_TRUE(desktop) << error;
  return desktop;
}

// Starts a program on the desktop and waits for its window; -1 (and a failure) otherwise.
pid_t startApp(HeadlessDesktop& desktop, const std::vector<std::string>& argv,
               const std::string& title) {
  std::string error;
  pid_t pid = desktop.launch(argv, &error);
  EXPECT_GT(pid, 0) << error;
  if (pid > 0 && !desktop.waitForWindow(pid, title, 30s)) {
    ADD_FAILURE() << "no window " << title;
    return -1;
  }
  return pid;
}

// One answer, and how long it took.
std::pair<Json, std::chrono::milliseconds> timedCall(ServiceProcess& service,
                                                     const std::string& method,
                                                     const std::string& params) {
  const auto began = std::chrono::steady_clock::now();
  Json r = call(service, method, method, params);
  return {r, std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::steady_clock::now() - began)};
}

// The X servers this process has started (the shared desktop's among them).
std::set<pid_t> ourXServers() {
  std::set<pid_t> found;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return found;
  while (dirent* entry = readdir(proc)) {
    const pid_t pid = std::atoi(entry->d_name);
    if (pid <= 0) continue;
    std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
    std::string pidField, comm, state;
    pid_t parent = 0;
    if (stat >> pidField >> comm >> state >> parent && comm == "(Xvfb)" && parent == getpid()) {
      found.insert(pid);
    }
  }
  closedir(proc);
  return found;
}

TEST(DesktopFaults, TheXServerDyingLeavesEveryRequestAnswered) {
  const std::set<pid_t> before = ourXServers();
  std::string error;
  auto desktop = headless::HeadlessDesktop::start(headless::DesktopOptions{}, &error);
  ASSERT_TRUE(desktop) << error;
  pid_t x = -1;
  for (pid_t pid : ourXServers()) {
    if (!before.contains(pid)) x = pid;
  }
  auto service = testing::startService({testing::serviceBinary()}, desktop->environment());
  ASSERT_EQ(testing::call(*service, "before", "windowCatalog")["ok"], true);
  ASSERT_GT(x, 0) << "the new desktop's X server was not found";
  ASSERT_EQ(kill(x, SIGKILL), 0);

  const std::pair<std::string, std::string> requests[] = {
      {"ping", "{}"},
      {"windowCatalog", "{}"},
      {"listRunningApps", "{}"},
      {"frontmostApp", "{}"},
      {"interactionSnapshot", "{}"},
      {"captureWindow", R"({"windowId":4194305})"},
      {"axTree", R"({"pid":1})"},
      {"remoteDesktopInput", R"({"type":"key","keyCode":56,"down":true})"},
      {"remoteDesktopInput", R"({"type":"release"})"},
      {"pasteboardSnapshot", R"({"name":"after"})"},
      {"ping", "{}"},
  };
  for (int round = 0; round < 2; ++round) {
    for (const auto& [method, params] : requests) {
      SCOPED_TRACE(method);
      Json r = testing::call(*service, method, method, params);
      ASSERT_TRUE(r.is_object()) << "no answer once the X server was gone";
      if (method == "ping") {
        EXPECT_EQ(r["ok"], true) << r;
      } else if (method == "captureWindow") {
        EXPECT_EQ(r["ok"], false) << r;  // no display to read
      } else if (method == "pasteboardSnapshot") {
        EXPECT_EQ(r["ok"], false) << r;  // an unreadable clipboard is not stored as empty
      } else if (method == "windowCatalog") {
        EXPECT_EQ(r["result"], Json::array()) << r;
      }
    }
  }
  testing::expectQuietExit(*service);
}


// An application's tree as the service reads it where no accessibility bus answers: its
// record, no elements, not trusted.
bool readAsWithoutAccessibility(const Json& r) {
  return r["ok"] == true && r["result"]["elements"].empty() && r["result"]["trusted"] == false;
}

TEST(DesktopFaults, TheAccessibilityBusCrashingIsLivedThroughAndTakenUpAgain) {
  auto desktop = privateDesktop(false);
  ASSERT_TRUE(desktop);
  const pid_t before = startApp(*desktop, {kTitledWindow, "--title", "Before"}, "Before");
  const pid_t qtBefore = startApp(*desktop, {kQtClock}, "Analog Clock");
  ASSERT_GT(before, 0);
  ASSERT_GT(qtBefore, 0);
  auto service = testing::startService({testing::serviceBinary()}, desktop->environment());
  for (pid_t pid : {before, qtBefore}) {
    Json tree = testing::treeOnceRegistered(*service, pid);
    ASSERT_GT(tree["result"]["elements"].size(), 0u) << tree;
  }

  std::string error;
  ASSERT_TRUE(desktop->crashAccessibilityBus(&error)) << error;
  // Without the bus: every method is answered, and promptly, since a bus that is not there
  // refuses connections at once.
  const std::string app = testing::pidParams(before);
  const std::pair<std::string, std::string> requests[] = {
      {"ping", "{}"},
      {"listRunningApps", "{}"},
      {"windowCatalog", "{}"},
      {"axTree", app},
      {"interactionSnapshot", app},
      {"performAXAction", testing::pidParams(before, R"(,"path":"w0","action":"AXRaise")")},
      {"watchApp", app},
      {"ping", "{}"},
  };
  for (const auto& [method, params] : requests) {
    SCOPED_TRACE(method);
    auto [r, took] = timedCall(*service, method, params);
    ASSERT_TRUE(r.is_object()) << "no answer without the accessibility bus";
    EXPECT_LT(took, 3s);
    if (method == "ping") {
      EXPECT_EQ(r["ok"], true) << r;
    } else if (method == "axTree") {
      EXPECT_TRUE(readAsWithoutAccessibility(r)) << r;
    } else if (method == "windowCatalog") {
      EXPECT_EQ(r["result"].size(), 2u) << r;  // both windows, from the X server
    }
  }

  ASSERT_TRUE(desktop->restartAccessibilityBus(&error)) << error;
  // Applications that start now register with the new bus, and the service reads them without
  // being restarted: GTK 3 and Qt 5.
  const pid_t gtk = startApp(*desktop, {kTitledWindow, "--title", "After"}, "After");
  const pid_t qt = startApp(*desktop, {kQtClock}, "Analog Clock");
  ASSERT_GT(gtk, 0);
  ASSERT_GT(qt, 0);
  for (pid_t pid : {gtk, qt}) {
    Json r = testing::treeOnceRegistered(*service, pid);
    EXPECT_EQ(r["ok"], true) << pid << " " << r;
    EXPECT_GT(r["result"]["elements"].size(), 0u) << r;
  }
  // Applications started before stay on the bus that is gone (GTK 3 and Qt 5 take its address
  // once, at start-up): answered, promptly, as applications no accessibility bus knows.
  for (pid_t pid : {before, qtBefore}) {
    auto [old, took] = timedCall(*service, "axTree", testing::pidParams(pid));
    EXPECT_LT(took, 3s);
    EXPECT_TRUE(old["ok"] == false || old["result"]["elements"].empty()) << old;
  }
  EXPECT_EQ(call(*service, "end", "ping")["ok"], true);
  testing::expectQuietExit(*service);
}

TEST(DesktopFaults, AnAccessibilityBusThatHasMovedIsFoundWhereTheSessionSaysItIs) {
  // Launchers that pick a new socket each start leave AT_SPI_BUS_ADDRESS naming a bus that is
  // gone once theirs restarts; the session bus and the root window know the new one.
  std::map<std::string, std::string> env = DesktopEnvironment::desktop().environment();
  env["AT_SPI_BUS_ADDRESS"] = "unix:path=" + env["XDG_RUNTIME_DIR"] + "/at-spi/moved-away";
  auto service = testing::startService({testing::serviceBinary()}, env);
  Json r = testing::treeOnceRegistered(*service, DesktopEnvironment::widgetFactoryPid());
  EXPECT_EQ(r["ok"], true) << r;
  EXPECT_GT(r["result"]["elements"].size(), 0u) << r;
  testing::expectQuietExit(*service);
}

TEST(DesktopFaults, AReplacedWindowManagerLeavesWindowsTheGuardInputAndWatchingWorking) {
  using Frame = testing::XWindowProbe::Frame;
  using Ending = HeadlessDesktop::ManagerEnd;
  auto desktop = privateDesktop();
  ASSERT_TRUE(desktop);
  const std::string report = "/tmp/tavren-wm-probe-" + std::to_string(getpid()) + ".txt";
  const pid_t pid = startApp(
      *desktop,
      {std::string(TAVREN_BIN_DIR) + "/tavren-fixture-input-probe", "--report", report}, "probe");
  ASSERT_GT(pid, 0);
  testing::XWindowProbe x(desktop->display());
  const std::optional<xcb_window_t> found = x.clientOf(pid);
  ASSERT_TRUE(found);
  const xcb_window_t w = *found;
  auto service = testing::startService({testing::serviceBinary()}, desktop->environment());
  ASSERT_EQ(call(*service, "watch", "watchApp", testing::pidParams(pid))["ok"], true);
  // The window's frame: the client's parent.
  auto link = x11::XLink::connect(desktop->display());
  ASSERT_TRUE(link);
  auto frameOfClient = [&] {
    auto tree = link->reply(xcb_query_tree_reply, xcb_query_tree(link->get(), w));
    return tree ? tree->parent : xcb_window_t{XCB_WINDOW_NONE};
  };

  // Lines of the watched application, read until one says `notification` (or ten seconds).
  std::vector<Json> lines;
  auto lineSaying = [&](const std::string& notification) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      auto text = service->readLine(100ms);
      if (!text) continue;
      Json line = Json::parse(*text);
      if (!line.contains("event")) continue;
      lines.push_back(line);
      if (line["notification"] == notification) return true;
    }
    return false;
  };

  int clicks = 0;
  for (Ending how : {Ending::Replaced, Ending::Killed}) {
    SCOPED_TRACE(how == Ending::Replaced ? "replaced" : "killed");
    const xcb_window_t oldFrame = frameOfClient();
    std::string error;
    ASSERT_TRUE(desktop->replaceWindowManager(how, &error)) << error;
    // Managed again, inside a frame of the new manager.
    ASSERT_TRUE(x.waitUntil(
        [&] {
          const xcb_window_t frame = frameOfClient();
          return frame != oldFrame && frame != link->root() && x.viewable(w);
        },
        10s));

    const Frame to{150 + clicks * 40, 120, 320, 330};
    // Asked again when it does not happen: a manager just started may still place the window
    // after taking the first request.
    bool moved = false;
    for (int attempt = 0; attempt < 3 && !moved; ++attempt) {
      x.moveResize(w, to);
      moved = x.waitUntil([&] { return x.frame(w) == to; }, 3s);
    }
    ASSERT_TRUE(moved) << x.frame(w).value_or(Frame{}).x << "," << x.frame(w).value_or(Frame{}).y;
    EXPECT_TRUE(lineSaying("AXMoved")) << "no move line from the watch";

    // The window list has the client window (never the new frame) where the server has it.
    Json catalog = call(*service, "catalog", "windowCatalog");
    const Json* record = nullptr;
    for (const Json& r : catalog["result"]) {
      if (r["id"] == w) record = &r;
    }
    ASSERT_TRUE(record) << catalog;
    const Frame listed{(*record)["x"].get<int>(), (*record)["y"].get<int>(),
                       (*record)["w"].get<int>(), (*record)["h"].get<int>()};
    EXPECT_EQ(listed, to);

    // A click in the background, guarded by that frame, reaches the button.
    Json click = {{"pid", pid},
                  {"x", to.x + 70},
                  {"y", to.y + 30},
                  {"windowId", w},
                  {"expectedWindow",
                   {{"windowId", w}, {"pid", pid}, {"x", to.x}, {"y", to.y}, {"w", to.w},
                    {"h", to.h}}}};
    Json r = call(*service, "click", "postMouse", click.dump());
    EXPECT_EQ(r["result"]["posted"], true) << r;
    ++clicks;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (readReport(report)["clicks"] != std::to_string(clicks) &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(readReport(report)["clicks"], std::to_string(clicks));
  }
  // The window was never closed: a change of manager is no end of it.
  for (const Json& line : lines) {
    EXPECT_NE(line["notification"], "AXUIElementDestroyed") << line;
  }
  unlink(report.c_str());
  testing::expectQuietExit(*service);
}

}  // namespace
}  // namespace tavren
