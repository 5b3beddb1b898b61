#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "server/dispatcher.h"
#include "focus/window_guard.h"
#include "platform/fake/fake_desktop.h"
#include "support/service_fixture.h"

namespace tavren {
namespace {

class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherTest()
      : desktop(FakeDesktop::fromFile(testing::fixturePath("desktop_basic.json"))),
        devNull(open("/dev/null", O_WRONLY | O_CLOEXEC)),
        service(*desktop, devNull) {}
  ~DispatcherTest() override { close(devNull); }

  Outcome run(const std::string& method, const Json& params = Json::object()) {
    return handle(service, Json{{"id", "t"}, {"version", 1}, {"method", method}, {"params", params}});
  }
  std::string errorOf(const Outcome& o) { return o.ok() ? "<ok>" : errorDescription(o.error()); }

  std::unique_ptr<FakeDesktop> desktop;
  int devNull;
  Service service;
};

TEST_F(DispatcherTest, PingAnswersWhateverItIsGiven) {
  for (Json params : {Json::object(), Json{{"x", 1}}, Json::array(), Json("s"), Json()}) {
    Outcome o = run("ping", params);
    ASSERT_TRUE(o.ok());
    EXPECT_EQ(o.value(), (Json{{"service", "TavrenComputerUseService"},
                               {"protocolVersion", 1},
                               {"windowGuardVersion", 1},
                               {"remoteDesktopInputVersion", 1},
                               {"remoteDisplayVersion", 1}}));
  }
}

TEST_F(DispatcherTest, UnknownMethodsNameThemselves) {
  EXPECT_EQ(errorOf(handle(service, Json{{"version", 1}})), "Unknown method ");
  EXPECT_EQ(errorOf(run("")), "Unknown method ");
  EXPECT_EQ(errorOf(run("Ping")), "Unknown method Ping");
  EXPECT_EQ(errorOf(run("ping ")), "Unknown method ping ");
  EXPECT_EQ(errorOf(run("n\xC3\xA4me")), "Unknown method n\xC3\xA4me");
  EXPECT_EQ(run("").error().code, 404);
}

TEST_F(DispatcherTest, CatalogueIsSortedAndFindsExactNames) {
  auto rows = methodCatalogue();
  for (size_t i = 1; i < rows.size(); ++i) EXPECT_LT(rows[i - 1].name, rows[i].name);
  EXPECT_NE(findMethod("ping"), nullptr);
  EXPECT_EQ(findMethod("pin"), nullptr);
  // Methods that need no desktop, unknown ones included, are answered by the reader and never
  // wait behind desktop requests; unknown acting methods are guarded first, which needs the
  // desktop.
  EXPECT_EQ(queueFor("ping"), Queue::Reader);
  EXPECT_EQ(queueFor("noSuchMethod"), Queue::Reader);
  EXPECT_EQ(queueFor("axTree"), Queue::Requests);
  EXPECT_EQ(queueFor("postKey"), Queue::Requests);
}

TEST_F(DispatcherTest, ListRunningAppsShowsOnlyRegularAppsWithIdentityFallbacks) {
  Outcome o = run("listRunningApps");
  ASSERT_TRUE(o.ok());
  EXPECT_EQ(o.value(), Json::parse(R"([
    {"id":"org.example.Editor","name":"Editor","pid":101,"path":"/opt/editor"},
    {"id":"103","name":"103","pid":103,"path":""},
    {"id":"org.example.Viewer","name":"org.example.Viewer","pid":104,"path":"/opt/viewer"}])"));
  desktop->quit(101);
  desktop->quit(103);
  desktop->quit(104);
  Outcome empty = run("listRunningApps");
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty.value().is_array());
  EXPECT_TRUE(empty.value().empty());
}

TEST_F(DispatcherTest, AppIdentityByPid) {
  Outcome editor = run("appIdentity", {{"pid", 101.7}});
  ASSERT_TRUE(editor.ok());
  EXPECT_EQ(editor.value(), (Json{{"id", "org.example.Editor"}, {"name", "Editor"}, {"path", "/opt/editor"}}));
  // Background processes have an identity too.
  Outcome indexer = run("appIdentity", {{"pid", 102}});
  ASSERT_TRUE(indexer.ok());
  EXPECT_EQ(indexer.value()["id"], "indexer");

  EXPECT_EQ(errorOf(run("appIdentity")), "No running app for pid 0");
  EXPECT_EQ(errorOf(run("appIdentity", {{"pid", "101"}})), "No running app for pid 0");
  EXPECT_EQ(errorOf(run("appIdentity", {{"pid", -5}})), "No running app for pid -5");
  EXPECT_EQ(errorOf(run("appIdentity", {{"pid", 999}})), "No running app for pid 999");
  EXPECT_EQ(run("appIdentity", {{"pid", 999}}).error().code, 1);
  desktop->quit(101);
  EXPECT_EQ(errorOf(run("appIdentity", {{"pid", 101}})), "No running app for pid 101");
}

TEST_F(DispatcherTest, PidsThatDoNotFitAreRefusedWithoutCrashing) {
  for (double pid : {3e9, -3e9, 1e300}) {
    Outcome o = run("appIdentity", {{"pid", pid}});
    ASSERT_FALSE(o.ok());
    EXPECT_EQ(o.error().code, 1);
    EXPECT_EQ(o.error().message.rfind("INVALID_PARAMETER: ", 0), 0u) << o.error().message;
  }
}

TEST_F(DispatcherTest, ParamsOfWrongTypesActLikeNone) {
  for (Json params : {Json::array({101}), Json("pid"), Json(), Json(101)}) {
    Json request = {{"version", 1}, {"method", "appIdentity"}, {"params", params}};
    EXPECT_EQ(errorOf(handle(service, request)), "No running app for pid 0") << params;
  }
}

TEST_F(DispatcherTest, ActingMethodsAreGuardedBeforeAnythingElse) {
  // The editor window of the fixture, observed before it moved by one point.
  const Json moved = {{"expectedWindow",
                       {{"windowId", 4194307}, {"pid", 101}, {"x", 99}, {"y", 201}, {"w", 300}, {"h", 400}}}};
  for (const char* method : {"postKey", "postScroll", "postMouse", "performAXAction", "setAXValue"}) {
    Outcome o = run(method, moved);
    ASSERT_TRUE(o.ok()) << method;
    EXPECT_EQ(o.value(), staleWindowResult()) << method;
  }
  // Other methods ignore the observation.
  Outcome windows = run("appWindows", Json{{"pid", 101}, {"expectedWindow", moved["expectedWindow"]}});
  ASSERT_TRUE(windows.ok());
  EXPECT_EQ(windows.value()["pid"], 101);
}

TEST(ServiceError, DefaultDescriptionNamesDomainAndCode) {
  EXPECT_EQ(errorDescription(ServiceError{"ComputerUse", 41, ""}),
            "The operation couldn't be completed. (ComputerUse error 41.)");
  EXPECT_EQ(errorDescription(ServiceError{"RemoteDisplay", 1, "busy"}), "busy");
}

}  // namespace
}  // namespace tavren
