// "axTree" on real GTK 3 applications: our fixture applications for exact cases and
// gtk3-widget-factory for the real world.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <thread>

#include "accessibility/tree_snapshot.h"
#include "platform/linux/atspi/atspi_accessibility.h"
#include "platform/linux/atspi/dbus_batch.h"
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

const std::string kBin = TAVREN_BIN_DIR;

const Json* rowLabelled(const Json& result, const std::string& label, const std::string& role) {
  for (const Json& row : result["elements"]) {
    if (row["label"] == label && row["role"] == role) return &row;
  }
  return nullptr;
}

TEST(AxTree, PasswordNeverAppearsInAnyForm) {
  LaunchedApps apps;
  const std::string secret = "Tr0ub4dor-Secret";
  pid_t pid = apps.start({kBin + "/tavren-fixture-login-form", secret}, "Tavren Login");
  auto service = DesktopEnvironment::startService();
  Json r = treeOnceRegistered(*service, pid, ",\"maxElements\":2000,\"maxDepth\":30");
  ASSERT_EQ(r["ok"], true) << r;
  const Json& result = r["result"];
  EXPECT_EQ(result["trusted"], true);
  EXPECT_EQ(result["elements"][0]["path"], "w0");
  EXPECT_EQ(result["elements"][0]["role"], "AXWindow");

  const Json* password = rowLabelled(result, "Password", "AXTextField");
  ASSERT_NE(password, nullptr) << result;
  EXPECT_EQ((*password)["subrole"], "AXSecureTextField");
  EXPECT_EQ((*password)["valueRedacted"], true);
  EXPECT_EQ((*password)["value"], "[protected]");
  const Json* code = rowLabelled(result, "Verification code", "AXTextField");
  ASSERT_NE(code, nullptr);
  EXPECT_EQ((*code)["value"], "[protected]");
  const Json* user = rowLabelled(result, "User name", "AXTextField");
  ASSERT_NE(user, nullptr);
  EXPECT_EQ((*user)["value"], "alice");
  EXPECT_GT((*user)["w"].get<int64_t>(), 0);
  EXPECT_EQ(rowLabelled(result, "Sign in", "AXButton")->at("actions"), Json::array({"AXPress"}));

  // The raw line, not just the parsed rows: no part of the secret anywhere.
  service->send(requestLine("raw", "axTree", pidParams(pid, ",\"maxElements\":2000,\"maxDepth\":30")));
  auto line = service->responseFor("raw", 30s);
  ASSERT_TRUE(line);
  EXPECT_EQ(line->find("Tr0ub4dor"), std::string::npos);
  EXPECT_EQ(line->find("Secret"), std::string::npos);
  // Fields that name a secret otherwise: a mnemonic label, a placeholder, the entry of a combo
  // box named "One-time code", a spin button named "Verification code".
  for (const char* leak : {"mnemonic-secret", "placeholder-secret", "otp-combo-secret", "424243"})
    EXPECT_EQ(line->find(leak), std::string::npos) << leak;
  const Json* mnemonic = rowLabelled(result, "Password:", "AXTextField");
  ASSERT_NE(mnemonic, nullptr) << result;  // the label it is labelled by names it
  EXPECT_EQ((*mnemonic)["valueRedacted"], true);
}

// The host observes a window in the window list and scopes a tree to it: a decorated window
// must match, and its row must give the same rectangle, not the window manager's frame.
TEST(AxTree, WindowScopeFromTheWindowListMatchesADecoratedWindow) {
  LaunchedApps apps;
  pid_t pid = apps.start({kBin + "/tavren-fixture-login-form"}, "Tavren Login");
  auto service = DesktopEnvironment::startService();
  ASSERT_FALSE(treeOnceRegistered(*service, pid, "")["result"]["elements"].empty());
  const Json listed = call(*service, "l", "windowServerWindows", pidParams(pid))["result"]["windows"];
  ASSERT_EQ(listed.size(), 1u) << listed;
  const Json frame = {
      {"x", listed[0]["x"]}, {"y", listed[0]["y"]}, {"w", listed[0]["w"]}, {"h", listed[0]["h"]}};
  const Json seen = call(*service, "a", "appWindows", pidParams(pid))["result"]["windows"];
  ASSERT_EQ(seen.size(), 1u) << seen;
  for (const char* key : {"x", "y", "w", "h"}) EXPECT_EQ(seen[0][key], frame[key]) << key;

  Json scope = {{"pid", pid}, {"maxElements", 5}, {"maxDepth", 2}, {"window", frame}};
  const Json r = call(*service, "s", "axTree", scope.dump())["result"];
  EXPECT_EQ(r["scopeMatched"], true) << r;
  ASSERT_FALSE(r["elements"].empty());
  EXPECT_EQ(r["elements"][0]["path"], "w0");
  for (const char* key : {"x", "y", "w", "h"}) EXPECT_EQ(r["elements"][0][key], frame[key]) << key;

  // A frame off by more than the tolerance matches nothing.
  scope["window"]["y"] = frame["y"].get<int64_t>() - 20;
  const Json off = call(*service, "o", "axTree", scope.dump())["result"];
  EXPECT_EQ(off["scopeMatched"], false);
  EXPECT_TRUE(off["elements"].empty());
}

// gtk3-widget-factory's window has no accessible name; the host knows it by its X title.
TEST(AxTree, WindowScopeByTheListedTitleOfAWindowTheToolkitLeftUnnamed) {
  const pid_t pid = DesktopEnvironment::widgetFactoryPid();
  auto service = DesktopEnvironment::startService();
  ASSERT_FALSE(treeOnceRegistered(*service, pid, "")["result"]["elements"].empty());
  const Json listed = call(*service, "l", "windowServerWindows", pidParams(pid))["result"]["windows"];
  ASSERT_FALSE(listed.empty());
  const std::string title = listed[0]["title"];
  ASSERT_FALSE(title.empty());

  const Json scope = {
      {"pid", pid}, {"maxElements", 1}, {"maxDepth", 1}, {"window", {{"title", title}}}};
  const Json r = call(*service, "s", "axTree", scope.dump())["result"];
  EXPECT_EQ(r["scopeMatched"], true) << r;
  ASSERT_EQ(r["elements"].size(), 1u) << r;
  EXPECT_EQ(r["elements"][0]["label"], title);
  for (const char* key : {"x", "y", "w", "h"}) EXPECT_EQ(r["elements"][0][key], listed[0][key]);
}

TEST(AxTree, OpenMenuInItsPopupWindowIsProbed) {
  LaunchedApps apps;
  pid_t pid = apps.start({kBin + "/tavren-fixture-menu-bar"}, "Tavren Menu Bar");
  auto service = DesktopEnvironment::startService();
  Json r;
  const Json* menu = nullptr;
  for (int i = 0; i < 50 && menu == nullptr; ++i) {  // the menu opens shortly after the window
    r = treeOnceRegistered(*service, pid, ",\"maxElements\":200,\"maxDepth\":10");
    for (const Json& row : r["result"]["elements"]) {
      if (row["path"].get<std::string>()[0] == 'p' && row["role"] == "AXMenu") menu = &row;
    }
    if (menu == nullptr) std::this_thread::sleep_for(100ms);
  }
  ASSERT_NE(menu, nullptr) << r;
  EXPECT_EQ((*menu)["label"], "File");
  EXPECT_EQ(r["result"]["elements"][0]["path"], (*menu)["path"]);  // pop-ups before windows
  std::vector<std::string> items;
  for (const Json& row : r["result"]["elements"]) {
    if (row["path"].get<std::string>().rfind((*menu)["path"].get<std::string>() + ".", 0) == 0) {
      items.push_back(row["label"]);
    }
  }
  EXPECT_EQ(items, (std::vector<std::string>{"New", "Open", "Save", "Quit"}));
}

TEST(AxTree, LimitsOnADeepTree) {
  LaunchedApps apps;
  pid_t pid = apps.start({kBin + "/tavren-fixture-deep-nesting", "40"}, "Tavren Deep Nesting");
  auto service = DesktopEnvironment::startService();
  auto deepest = [](const Json& r) {
    size_t most = 0;
    for (const Json& row : r["result"]["elements"]) {
      const std::string path = row["path"];
      most = std::max<size_t>(most, std::count(path.begin(), path.end(), '.') + 1);
    }
    return most;
  };
  Json full = treeOnceRegistered(*service, pid, ",\"maxElements\":2000,\"maxDepth\":100");
  EXPECT_EQ(deepest(full), 31u);  // depth 0 to 30
  EXPECT_EQ(full["result"]["elements"].size(), 31u);
  for (const char* limits :
       {",\"maxElements\":0,\"maxDepth\":0", ",\"maxElements\":-3,\"maxDepth\":-3",
        ",\"maxElements\":0.7,\"maxDepth\":1.9"}) {
    Json r = treeOnceRegistered(*service, pid, limits);
    EXPECT_EQ(r["result"]["elements"].size(), 1u) << limits;
  }
  Json two = treeOnceRegistered(*service, pid, ",\"maxElements\":2.9,\"maxDepth\":1e300");
  EXPECT_EQ(two["result"]["elements"].size(), 2u);
  Json shallow = treeOnceRegistered(*service, pid, ",\"maxElements\":1e300,\"maxDepth\":1");
  EXPECT_EQ(deepest(shallow), 2u);
}

TEST(AxTree, TreeViewCellsAreReadUpToTheBudget) {
  LaunchedApps apps;
  pid_t pid = apps.start({kBin + "/tavren-fixture-tree-rows", "1500"}, "Tavren Tree Rows");
  auto service = DesktopEnvironment::startService();
  Json r = treeOnceRegistered(*service, pid, ",\"maxElements\":2000,\"maxDepth\":30");
  ASSERT_EQ(r["ok"], true);
  EXPECT_EQ(r["result"]["elements"].size(), 2000u);
  EXPECT_NE(rowLabelled(r["result"], "Row 0", "AXCell"), nullptr);
  EXPECT_NE(rowLabelled(r["result"], "Name", "AXButton"), nullptr);  // a column header
}

TEST(AxTree, BadApplicationNames) {
  LaunchedApps apps;
  pid_t first = apps.start({kBin + "/tavren-fixture-login-form", "a"}, "Tavren Login");
  pid_t second = apps.start({kBin + "/tavren-fixture-login-form", "b"}, "Tavren Login");
  auto service = DesktopEnvironment::startService();
  Json unknown = call(*service, "1", "axTree", "{\"app\":\"no-such-app\"}");
  EXPECT_EQ(unknown["error"], "No matching running app");
  Json ambiguous = call(*service, "2", "axTree", "{\"app\":\"tavren-fixture-login-form\"}");
  const std::string message = ambiguous.value("error", "");
  EXPECT_EQ(message.rfind("COMPUTER_APP_IDENTITY_AMBIGUOUS: tavren-fixture-login-form. ", 0), 0u)
      << ambiguous;
  EXPECT_NE(message.find("pid=" + std::to_string(first)), std::string::npos);
  EXPECT_NE(message.find("pid=" + std::to_string(second)), std::string::npos);

  // A pid names one of them; a dead one nothing.
  Json chosen = treeOnceRegistered(*service, second, ",\"app\":\"tavren-fixture-login-form\"");
  EXPECT_EQ(chosen["result"]["pid"], second);
  kill(first, SIGKILL);
  Json dead;
  for (int i = 0; i < 100; ++i) {  // its window goes away asynchronously
    dead = call(*service, "d" + std::to_string(i), "axTree", pidParams(first));
    if (dead["ok"] == false) break;
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(dead["error"], "No matching running app");
}

TEST(AxTree, StoppedApplicationCostsOneTimeoutAndBlocksNothingElse) {
  LaunchedApps apps;
  pid_t pid = apps.start({kBin + "/tavren-fixture-deep-nesting", "5"}, "Tavren Deep Nesting");
  auto service = DesktopEnvironment::startService();
  ASSERT_EQ(treeOnceRegistered(*service, pid, "")["ok"], true);
  kill(pid, SIGSTOP);
  const auto sent = std::chrono::steady_clock::now();
  service->send(requestLine("stopped", "axTree", pidParams(pid, ",\"maxElements\":50")));
  for (int i = 0; i < 5; ++i) {
    Json ping = call(*service, "p" + std::to_string(i), "ping");
    EXPECT_EQ(ping["ok"], true);
  }
  auto line = service->responseFor("stopped", 30s);
  const auto waited = std::chrono::steady_clock::now() - sent;
  kill(pid, SIGCONT);
  ASSERT_TRUE(line) << "no answer while the application was stopped";
  Json r = Json::parse(*line);
  EXPECT_EQ(r["ok"], true) << *line;
  // One call timeout (1.5 s), not one per element or per batch: a second would pass 3 s.
  EXPECT_LT(waited, std::chrono::milliseconds(2 * atspi::kCallTimeoutMs))
      << std::chrono::duration_cast<std::chrono::milliseconds>(waited).count() << " ms";
}

TEST(AxTree, ApplicationExitingDuringTheReadIsAnsweredAll) {
  auto service = DesktopEnvironment::startService();
  for (int delayMs : {0, 5, 20, 60}) {
    LaunchedApps apps;
    pid_t pid = apps.start({kBin + "/tavren-fixture-many-labels", "3000"}, "Tavren Many Labels");
    ASSERT_EQ(treeOnceRegistered(*service, pid, "")["ok"], true);
    const std::string id = "exit" + std::to_string(delayMs);
    service->send(requestLine(id, "axTree", pidParams(pid, ",\"maxElements\":2000,\"maxDepth\":30")));
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    kill(pid, SIGKILL);
    auto line = service->responseFor(id, 30s);
    ASSERT_TRUE(line) << delayMs;
    Json r = Json::parse(*line);
    EXPECT_TRUE(r["ok"] == true || r["error"] == "No matching running app") << *line;
  }
  service->closeInput();
  EXPECT_EQ(service->wait(10s), 0);
  EXPECT_EQ(service->errorOutput(), "");
}

// The bulk read (the toolkit's cache plus batches) must give exactly the rows of a plain
// node-by-node walk. Read in process, on the shared desktop's bus, both straight from AT-SPI
// (the service's platform gives window rows the X client rectangle instead: tested above).
class BulkAgainstWalk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const auto& [key, value] : DesktopEnvironment::desktop().environment()) {
      setenv(key.c_str(), value.c_str(), 1);
    }
    platform = makeLinuxPlatform().release();
    bus = new atspi::AtspiBus();
    bulk = new atspi::AtspiAccessibility(*bus, atspi::TreeReading::Bulk);
  }
  static void TearDownTestSuite() {
    delete bulk;
    delete bus;
    delete platform;
  }

  // Rows of both reads; applications that animate may change between two reads, so a few
  // tries are allowed for one identical pair.
  static void expectSameRows(pid_t pid) {
    atspi::AtspiAccessibility walk(*bus, atspi::TreeReading::NodeByNode);
    const Json limits = {{"maxElements", 2000}, {"maxDepth", 30}};
    AppInfo app;
    app.pid = pid;
    Json bulkRows, walkRows;
    for (int attempt = 0; attempt < 5; ++attempt) {
      bulkRows = nativeAXTree(app, limits, *bulk, platform->windowServer())["elements"];
      walkRows = nativeAXTree(app, limits, walk, platform->windowServer())["elements"];
      if (!bulkRows.empty() && bulkRows == walkRows) break;
      std::this_thread::sleep_for(200ms);
    }
    ASSERT_FALSE(bulkRows.empty());
    ASSERT_EQ(bulkRows.size(), walkRows.size());
    for (size_t i = 0; i < bulkRows.size(); ++i) EXPECT_EQ(bulkRows[i], walkRows[i]) << i;
  }

  static Platform* platform;
  static atspi::AtspiBus* bus;
  static atspi::AtspiAccessibility* bulk;
};
Platform* BulkAgainstWalk::platform = nullptr;
atspi::AtspiBus* BulkAgainstWalk::bus = nullptr;
atspi::AtspiAccessibility* BulkAgainstWalk::bulk = nullptr;

TEST_F(BulkAgainstWalk, WidgetFactory) {
  expectSameRows(DesktopEnvironment::widgetFactoryPid());
}

TEST_F(BulkAgainstWalk, FixtureApplications) {
  LaunchedApps apps;
  std::vector<pid_t> pids = {
      apps.start({kBin + "/tavren-fixture-login-form", "x"}, "Tavren Login"),
      apps.start({kBin + "/tavren-fixture-menu-bar"}, "Tavren Menu Bar"),
      apps.start({kBin + "/tavren-fixture-tree-rows", "300"}, "Tavren Tree Rows"),
      apps.start({kBin + "/tavren-fixture-many-labels", "1000"}, "Tavren Many Labels")};
  std::this_thread::sleep_for(1s);  // registration with the accessibility bus
  for (pid_t pid : pids) {
    SCOPED_TRACE(pid);
    expectSameRows(pid);
  }
}

}  // namespace
}  // namespace tavren
