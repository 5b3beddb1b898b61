// Reading the trees of other toolkits' applications: Qt 5 (qtbase5-examples) and GTK 4
// (gtk-4-examples), each as Debian ships it.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <thread>
#include <tuple>

#include "accessibility/tree_snapshot.h"
#include "platform/linux/atspi/atspi_accessibility.h"
#include "platform/platform.h"
#include "support/desktop_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::call;
using testing::DesktopEnvironment;
using testing::LaunchedApps;
using testing::pidParams;
using testing::treeOnceRegistered;

const std::string kQtRichText =
    "/usr/lib/x86_64-linux-gnu/qt5/examples/widgets/richtext/textedit/textedit";
const std::string kLimits = ",\"maxElements\":2000,\"maxDepth\":30";

// Running, not a zombie: a process that crashed stays a zombie until its parent reaps it.
bool alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pidField, comm, state;
  if (!(stat >> pidField >> comm >> state)) return false;
  return state != "Z" && state != "X";
}

// A tree scoped to the window's frame as the window list gives it, and to its title, gives the
// rows of the unscoped tree's window.
void expectScopesMatch(ServiceProcess& service, pid_t pid, const Json& rows) {
  Json listed = call(service, "ws", "windowServerWindows", pidParams(pid));
  ASSERT_EQ(listed["ok"], true) << listed;
  ASSERT_FALSE(listed["result"]["windows"].empty()) << listed;
  const Json& w = listed["result"]["windows"][0];
  const Json frame = {{"x", w["x"]}, {"y", w["y"]}, {"w", w["w"]}, {"h", w["h"]}};
  for (const Json& scope : {frame, Json{{"title", w["title"]}}}) {
    Json scoped = call(service, "sc", "axTree",
                       pidParams(pid, kLimits + ",\"window\":" + scope.dump()));
    ASSERT_EQ(scoped["ok"], true) << scoped;
    EXPECT_EQ(scoped["result"]["scopeMatched"], true) << scope;
    EXPECT_EQ(scoped["result"]["elements"].size(), rows.size()) << scope;
  }
}

bool hasRole(const Json& rows, const std::string& role) {
  for (const Json& row : rows) {
    if (row["role"] == role) return true;
  }
  return false;
}

// Every row has a known role, and every box with a size lies on the window's rectangle.
void expectRolesAndBoxes(const Json& rows) {
  ASSERT_FALSE(rows.empty());
  const Json& window = rows[0];
  ASSERT_EQ(window["role"], "AXWindow") << window;
  const double wx = window["x"], wy = window["y"], ww = window["w"], wh = window["h"];
  ASSERT_GT(ww, 0);
  size_t inside = 0, sized = 0;
  // Closed pop-ups (menus, combo box lists, no size of their own) keep their items' boxes
  // where they last showed, or relative to themselves: left out.
  std::vector<std::string> closed;
  for (const Json& row : rows) {
    EXPECT_NE(row["role"], "AXUnknown") << row;
    const std::string path = row["path"];
    const bool under = std::any_of(closed.begin(), closed.end(), [&](const std::string& p) {
      return path.starts_with(p + ".");
    });
    if (under) continue;
    if ((row["role"] == "AXMenu" || row["role"] == "AXList") && row["w"] == 0) {
      closed.push_back(path);
    }
    if (!row["w"].is_number() || row["w"] == 0 || !row["x"].is_number()) continue;
    ++sized;
    const double x = row["x"], y = row["y"];
    // Scrolled content may lie beyond the window; most of what shows lies on it.
    if (x >= wx - 1 && y >= wy - 1 && x < wx + ww && y < wy + wh) ++inside;
  }
  EXPECT_GT(sized, 3u);
  EXPECT_GE(inside * 10, sized * 9) << rows;
}

TEST(QtApplication, ReadTwiceAndStillRunning) {
  LaunchedApps apps;
  pid_t pid = apps.start({kQtRichText}, "Rich Text");
  auto service = DesktopEnvironment::startService();
  Json first = treeOnceRegistered(*service, pid, kLimits, 50);
  ASSERT_EQ(first["ok"], true) << first;
  Json second = call(*service, "again", "axTree", pidParams(pid, kLimits));
  ASSERT_EQ(second["ok"], true) << second;
  const Json& rows = second["result"]["elements"];
  EXPECT_GE(rows.size(), 100u);
  EXPECT_EQ(rows[0]["label"], "example.html - Rich Text");
  for (const char* role : {"AXMenuBar", "AXToolbar", "AXTextArea", "AXComboBox", "AXButton"})
    EXPECT_TRUE(hasRole(rows, role)) << role;
  expectRolesAndBoxes(rows);
  expectScopesMatch(*service, pid, rows);
  // The items of a closed menu are nowhere on the screen: Qt reports them relative to a hidden
  // window at the origin, one below the other, which no row repeats.
  size_t closedItems = 0;
  for (const Json& row : rows) {
    const std::string path = row["path"];
    if (row["role"] != "AXMenuItem" || path.rfind("w0.2.", 0) != 0 ||
        std::count(path.begin(), path.end(), '.') < 3) {
      continue;
    }
    ++closedItems;
    EXPECT_EQ(row["x"], 0) << row;
    EXPECT_EQ(row["y"], 0) << row;
  }
  EXPECT_GE(closedItems, 10u);

  // Still there, seconds later, with its window.
  std::this_thread::sleep_for(3s);
  EXPECT_TRUE(alive(pid));
  Json windows = call(*service, "w", "appWindows", pidParams(pid));
  ASSERT_EQ(windows["ok"], true) << windows;
  ASSERT_EQ(windows["result"]["windows"].size(), 1u) << windows;
  EXPECT_EQ(windows["result"]["windows"][0]["title"], "example.html - Rich Text");
  EXPECT_TRUE(DesktopEnvironment::desktop().waitForWindow(pid, "Rich Text", 1s));
  service->closeInput();
  EXPECT_EQ(service->wait(10s), 0);
  EXPECT_EQ(service->errorOutput(), "");
}

TEST(Gtk4Application, BoxesAreOnTheScreen) {
  LaunchedApps apps;
  pid_t pid = apps.start({"gtk4-print-editor"}, "Print Editor");
  auto service = DesktopEnvironment::startService();
  Json r = treeOnceRegistered(*service, pid, kLimits, 10);
  ASSERT_EQ(r["ok"], true) << r;
  const Json& rows = r["result"]["elements"];
  for (const char* role : {"AXMenuBar", "AXMenuItem", "AXTextArea"})
    EXPECT_TRUE(hasRole(rows, role)) << role;
  expectRolesAndBoxes(rows);
  expectScopesMatch(*service, pid, rows);
  // The menu bar sits at the top of the window, not at the top of the screen.
  for (const Json& row : rows) {
    if (row["role"] == "AXMenuBar") {
      EXPECT_GE(row["y"].get<double>(), rows[0]["y"].get<double>());
    }
  }
}

TEST(ToolkitApplications, QuittingDuringTheReadIsAnswered) {
  auto service = DesktopEnvironment::startService();
  // GTK 4 once: a second gtk4-print-editor started right after the first was killed did not map
  // its window within 30 s on the merged desktop (not explained yet).
  const std::vector<std::tuple<std::vector<std::string>, std::string, std::vector<int>>> apps = {
      {{kQtRichText}, "Rich Text", {0, 10, 40}}, {{"gtk4-print-editor"}, "Print Editor", {0}}};
  for (const auto& [argv, title, delays] : apps) {
    for (int delayMs : delays) {
      SCOPED_TRACE(title + " " + std::to_string(delayMs));
      LaunchedApps launched;
      pid_t pid = launched.start(argv, title);
      ASSERT_EQ(treeOnceRegistered(*service, pid, kLimits, 2)["ok"], true);
      const std::string id = "quit" + std::to_string(delayMs);
      service->send(requestLine(id, "axTree", pidParams(pid, kLimits)));
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      kill(pid, SIGKILL);
      auto line = service->responseFor(id, 30s);
      ASSERT_TRUE(line);
      Json r = Json::parse(*line);
      EXPECT_TRUE(r["ok"] == true || r["error"] == "No matching running app") << *line;
    }
  }
  service->closeInput();
  EXPECT_EQ(service->wait(10s), 0);
  EXPECT_EQ(service->errorOutput(), "");
}

// Each toolkit's rows equal those of a plain node-by-node walk, read in process.
class ToolkitAgainstWalk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const auto& [key, value] : DesktopEnvironment::desktop().environment()) {
      setenv(key.c_str(), value.c_str(), 1);
    }
    platform = makeLinuxPlatform().release();
    bus = new atspi::AtspiBus();
  }
  static void TearDownTestSuite() {
    delete bus;
    delete platform;
  }

  static void expectSameRows(pid_t pid, size_t atLeast) {
    atspi::AtspiAccessibility bulk(*bus, atspi::TreeReading::Bulk);
    atspi::AtspiAccessibility walk(*bus, atspi::TreeReading::NodeByNode);
    const Json limits = {{"maxElements", 2000}, {"maxDepth", 30}};
    AppInfo app;
    app.pid = pid;
    Json bulkRows, walkRows;
    for (int attempt = 0; attempt < 50; ++attempt) {
      bulkRows = nativeAXTree(app, limits, bulk, platform->windowServer())["elements"];
      walkRows = nativeAXTree(app, limits, walk, platform->windowServer())["elements"];
      if (bulkRows.size() >= atLeast && bulkRows == walkRows) break;
      std::this_thread::sleep_for(200ms);
    }
    ASSERT_GE(bulkRows.size(), atLeast);
    ASSERT_EQ(bulkRows.size(), walkRows.size());
    for (size_t i = 0; i < bulkRows.size(); ++i) EXPECT_EQ(bulkRows[i], walkRows[i]) << i;
    EXPECT_TRUE(alive(pid));
  }

  static Platform* platform;
  static atspi::AtspiBus* bus;
};
Platform* ToolkitAgainstWalk::platform = nullptr;
atspi::AtspiBus* ToolkitAgainstWalk::bus = nullptr;

TEST_F(ToolkitAgainstWalk, Qt5) {
  LaunchedApps apps;
  expectSameRows(apps.start({kQtRichText}, "Rich Text"), 100);
}

TEST_F(ToolkitAgainstWalk, Gtk4) {
  LaunchedApps apps;
  expectSameRows(apps.start({"gtk4-print-editor"}, "Print Editor"), 10);
}

}  // namespace
}  // namespace tavren
