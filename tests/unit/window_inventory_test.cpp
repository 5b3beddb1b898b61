// The window inventory requests on the in-memory desktop: both views of an application's
// windows, the catalog, and restoring.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>

#include "server/dispatcher.h"
#include "platform/fake/fake_desktop.h"
#include "support/service_fixture.h"
#include "windows/app_window_state.h"
#include "windows/window_records.h"

namespace tavren {
namespace {

class WindowInventoryTest : public ::testing::Test {
 protected:
  explicit WindowInventoryTest(const Json& overrides = Json::object())
      : desktop(std::make_unique<FakeDesktop>(fixture(overrides))),
        devNull(open("/dev/null", O_WRONLY | O_CLOEXEC)),
        service(*desktop, devNull) {}
  ~WindowInventoryTest() override { close(devNull); }

  static Json fixture(const Json& overrides) {
    std::ifstream in(testing::fixturePath("desktop_windows.json"));
    Json j = Json::parse(in);
    j.update(overrides);
    return j;
  }
  Json ok(const std::string& method, const Json& params = Json::object()) {
    Outcome o = handle(service, {{"version", 1}, {"method", method}, {"params", params}});
    EXPECT_TRUE(o.ok()) << method << ": " << (o.ok() ? "" : o.error().message);
    return o.ok() ? o.value() : Json();
  }
  static std::vector<Json> ids(const Json& windows) {
    std::vector<Json> out;
    for (const Json& w : windows) out.push_back(w["id"]);
    return out;
  }

  std::unique_ptr<FakeDesktop> desktop;
  int devNull;
  Service service;
};

TEST_F(WindowInventoryTest, ServerWindowsOfAnAppIncludeItsAuxiliaryProcessesInListOrder) {
  Json state = ok("windowServerWindows", {{"app", "org.example.Editor"}});
  EXPECT_EQ(state["id"], "org.example.Editor");
  EXPECT_EQ(state["name"], "Editor");
  EXPECT_EQ(state["pid"], 201);
  EXPECT_EQ(state["rootPath"], "/opt/editor");
  // Not listed: the sibling bundle /opt/editor2 (a prefix without "/"), a 1x500 window, one
  // without bounds, one whose owner is unknown, and other applications' windows.
  ASSERT_EQ(ids(state["windows"]), (std::vector<Json>{301, 302, 303, 0}));
  EXPECT_EQ(state["windows"][1],
            (Json{{"id", 302}, {"pid", 201}, {"owner", "Editor"}, {"path", "/opt/editor/bin/editor"},
                  {"title", "notes.txt"}, {"layer", 0}, {"onScreen", true},
                  {"x", 101}, {"y", -21}, {"w", 800}, {"h", 600}}));
  const Json& helper = state["windows"][2];  // 2x2 is big enough; its own pid and path
  EXPECT_EQ(helper["pid"], 202);
  EXPECT_EQ(helper["path"], "/opt/editor/libexec/editor-helper");
  EXPECT_EQ(helper["layer"], 3);
  EXPECT_EQ(state["windows"][0]["title"], "");
}

TEST_F(WindowInventoryTest, AppWithoutInstallDirectoryListsOnlyItsOwnWindows) {
  // Every executable path starts with "" followed by "/": an empty root must admit nothing.
  Json state = ok("windowServerWindows", {{"pid", 204}});
  EXPECT_EQ(state["rootPath"], "");
  EXPECT_EQ(state["id"], "Plain");
  // Off screen and every layer, unfiltered.
  EXPECT_EQ(ids(state["windows"]), (std::vector<Json>{309, 310, 311}));
  EXPECT_EQ(state["windows"][0]["onScreen"], false);
  EXPECT_EQ(state["windows"][2]["layer"], -2147483623);
}

TEST_F(WindowInventoryTest, CatalogIsABareArrayOfNumberedOwnedUsableWindows) {
  Json catalog = ok("windowCatalog", {{"pid", 201}});  // parameters are not read
  ASSERT_TRUE(catalog.is_array());
  EXPECT_EQ(ids(catalog), (std::vector<Json>{301, 302, 303, 304, 309, 310, 311}));
  for (const Json& w : catalog) EXPECT_FALSE(w.contains("path")) << w;
  EXPECT_EQ(catalog[1]["x"], 101);

  for (int pid : {201, 202, 203, 204}) desktop->quit(pid);
  Json empty = ok("windowCatalog");
  EXPECT_TRUE(empty.is_array());
  EXPECT_TRUE(empty.empty());
}

TEST_F(WindowInventoryTest, AppWindowsReportsAccessibleWindowsWithIdentity) {
  Json state = ok("appWindows", {{"app", "Editor"}});
  EXPECT_EQ(state["trusted"], true);
  EXPECT_EQ(state["id"], "org.example.Editor");
  EXPECT_EQ(state["pid"], 201);
  EXPECT_EQ(state["hidden"], false);
  EXPECT_EQ(state["terminated"], false);
  ASSERT_EQ(state["windows"].size(), 3u);
  EXPECT_EQ(state["windows"][0],
            (Json{{"index", 0}, {"title", "notes.txt"}, {"role", "AXWindow"},
                  {"minimized", false}, {"focused", true},
                  {"x", 101}, {"y", -21}, {"w", 800}, {"h", 600}}));
  const Json& find = state["windows"][1];
  EXPECT_EQ(find["index"], 1);
  EXPECT_EQ(find["minimized"], true);
  EXPECT_EQ(find["focused"], false);
  EXPECT_EQ(find["x"], -11);
  EXPECT_EQ(find["y"], 10);
  EXPECT_EQ(find["w"], 301);
  const Json& stuck = state["windows"][2];  // no position, no size
  EXPECT_EQ(stuck["x"], 0);
  EXPECT_EQ(stuck["y"], 0);
  EXPECT_EQ(stuck["w"], 0);
  EXPECT_EQ(stuck["h"], 0);
}

TEST_F(WindowInventoryTest, IdentityFallsBackToNameThenPid) {
  Json plain = ok("appWindows", {{"pid", 204}});
  EXPECT_EQ(plain["id"], "Plain");
  EXPECT_EQ(plain["name"], "Plain");
  EXPECT_EQ(plain["hidden"], true);
  Json nameless = ok("appWindows", {{"pid", 205}});
  EXPECT_EQ(nameless["id"], "205");
  EXPECT_EQ(nameless["name"], "205");
  EXPECT_EQ(nameless["windows"], Json::array());
  Json server = ok("windowServerWindows", {{"pid", 205}});
  EXPECT_EQ(server["id"], "205");
  EXPECT_EQ(server["windows"], Json::array());
}

TEST_F(WindowInventoryTest, RestoreUnminimizesWhatItCanAndCountsIt) {
  Json state = ok("restoreAppWindows", {{"pid", 201}});
  EXPECT_EQ(state["restored"], 1);  // "Stuck" turned the request down
  EXPECT_EQ(state["windows"][1]["minimized"], false);
  EXPECT_EQ(state["windows"][2]["minimized"], true);
  // Not hidden, so not unhidden; the window that was not minimized was left alone.
  EXPECT_EQ(desktop->fakeAppWindows().journal(),
            (std::vector<std::string>{"unminimize 201 1", "unminimize 201 2"}));

  // Nothing left to do: the same answer as appWindows, plus a count of 0.
  Json again = ok("restoreAppWindows", {{"pid", 201}});
  EXPECT_EQ(again["restored"], 0);
  again.erase("restored");
  EXPECT_EQ(again, ok("appWindows", {{"pid", 201}}));
}

TEST_F(WindowInventoryTest, RestoreShowsAHiddenAppBeforeUnminimizing) {
  Json state = ok("restoreAppWindows", {{"app", "Plain"}});
  EXPECT_EQ(state["restored"], 1);
  EXPECT_EQ(state["hidden"], false);
  EXPECT_EQ(desktop->fakeAppWindows().journal(),
            (std::vector<std::string>{"unhide 204", "unminimize 204 0"}));
  Json none = ok("restoreAppWindows", {{"pid", 205}});
  EXPECT_EQ(none["restored"], 0);
  EXPECT_EQ(none["windows"], Json::array());
}

TEST_F(WindowInventoryTest, NoMatchingAppFailsWithEachMethodsCode) {
  const std::pair<const char*, int> methods[] = {
      {"appWindows", 8}, {"restoreAppWindows", 9}, {"windowServerWindows", 10}};
  for (const auto& [method, code] : methods) {
    for (const Json& params : {Json::object(), Json{{"pid", 999}}, Json{{"app", "Nothing"}}}) {
      Outcome o = handle(service, {{"version", 1}, {"method", method}, {"params", params}});
      ASSERT_FALSE(o.ok()) << method;
      EXPECT_EQ(o.error().code, code) << method;
      EXPECT_EQ(o.error().message, "No matching running app") << method;
    }
    // Resolution's own errors pass through unchanged.
    Outcome twin = handle(service, {{"version", 1}, {"method", method}, {"params", {{"app", "Twin"}}}});
    ASSERT_FALSE(twin.ok());
    EXPECT_EQ(twin.error().code, 28);
  }
  EXPECT_TRUE(desktop->fakeAppWindows().journal().empty());
}

TEST_F(WindowInventoryTest, AnAppThatEndedAfterResolutionReadsAsTerminated) {
  const AppInfo editor = *desktop->application(201);
  desktop->quit(201);
  Json state = appWindowState(editor, desktop->applicationWindows());
  EXPECT_EQ(state["terminated"], true);
  EXPECT_EQ(state["windows"], Json::array());
  EXPECT_EQ(state["id"], "org.example.Editor");
}

class UntrustedWindowInventoryTest : public WindowInventoryTest {
 protected:
  UntrustedWindowInventoryTest()
      : WindowInventoryTest({{"capabilities", {{"accessibility", false}}}}) {}
};

TEST_F(UntrustedWindowInventoryTest, StillAnswersWithoutWindows) {
  Json state = ok("appWindows", {{"pid", 201}});
  EXPECT_EQ(state["trusted"], false);
  EXPECT_EQ(state["windows"], Json::array());
  EXPECT_EQ(ok("restoreAppWindows", {{"pid", 201}})["restored"], 0);
  // The window server's view does not depend on accessibility.
  EXPECT_EQ(ok("windowServerWindows", {{"pid", 201}})["windows"].size(), 4u);
}

}  // namespace
}  // namespace tavren
