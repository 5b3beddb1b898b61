// The real service on a headless desktop with real applications.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <thread>

#include "support/desktop_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::call;
using testing::DesktopEnvironment;

const Json* appWithPid(const Json& apps, pid_t pid) {
  for (const auto& a : apps) {
    if (a.value("pid", 0) == pid) return &a;
  }
  return nullptr;
}

void expectQuietExit(ServiceProcess& service) {
  service.closeInput();
  EXPECT_EQ(service.wait(10s), 0);
  EXPECT_EQ(service.errorOutput(), "");
  EXPECT_EQ(service.partialOutput(), "");
}

TEST(Apps, WidgetFactoryIsListedWithItsIdentity) {
  auto service = DesktopEnvironment::startService();
  Json r = call(*service, "1", "listRunningApps");
  ASSERT_EQ(r["ok"], true) << r;
  const Json* factory = appWithPid(r["result"], DesktopEnvironment::widgetFactoryPid());
  ASSERT_NE(factory, nullptr) << r;
  EXPECT_EQ((*factory)["id"], "org.gtk.WidgetFactory");  // its _GTK_APPLICATION_ID
  EXPECT_EQ((*factory)["name"], "Widget Factory");
  EXPECT_EQ((*factory)["path"], "");  // installed in /usr/bin, a shared directory
  for (const auto& app : r["result"]) {
    EXPECT_NE(app["name"], "openbox") << "the window manager owns no ordinary window";
  }

  Json identity = call(*service, "2", "appIdentity",
                       "{\"pid\":" + std::to_string(DesktopEnvironment::widgetFactoryPid()) + "}");
  ASSERT_EQ(identity["ok"], true) << identity;
  EXPECT_EQ(identity["result"],
            (Json{{"id", (*factory)["id"]}, {"name", (*factory)["name"]}, {"path", ""}}));
  expectQuietExit(*service);
}

TEST(Apps, ProcessesWithoutWindowsAreNotApplications) {
  auto service = DesktopEnvironment::startService();
  std::string error;
  pid_t sleeper = DesktopEnvironment::desktop().launch({"/bin/sleep", "30"}, &error);
  ASSERT_GT(sleeper, 0) << error;
  Json r = call(*service, "1", "appIdentity", "{\"pid\":" + std::to_string(sleeper) + "}");
  EXPECT_EQ(r["error"], "No running app for pid " + std::to_string(sleeper));
  kill(sleeper, SIGKILL);
  expectQuietExit(*service);
}

TEST(Apps, ApplicationsThatStartAndQuitAreSeenByTheNextRequest) {
  auto service = DesktopEnvironment::startService();
  auto& desktop = DesktopEnvironment::desktop();
  std::string error;
  pid_t demo = desktop.launch({"gtk3-demo"}, &error);
  ASSERT_GT(demo, 0) << error;
  ASSERT_TRUE(desktop.waitForWindow(demo, "", 30s));
  Json with = call(*service, "1", "listRunningApps");
  ASSERT_NE(appWithPid(with["result"], demo), nullptr) << with;

  kill(demo, SIGTERM);
  Json without;
  for (int i = 0; i < 100; ++i) {  // the window goes away asynchronously
    without = call(*service, "2", "listRunningApps");
    if (appWithPid(without["result"], demo) == nullptr) break;
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(appWithPid(without["result"], demo), nullptr) << without;
  expectQuietExit(*service);
}

TEST(Apps, ManyParallelRequestsOnTheRealDesktop) {
  auto service = DesktopEnvironment::startService();
  const std::string pidParams =
      "{\"pid\":" + std::to_string(DesktopEnvironment::widgetFactoryPid()) + "}";
  for (int i = 0; i < 64; ++i) {
    service->send(requestLine("r" + std::to_string(i), i % 2 ? "appIdentity" : "listRunningApps",
                              pidParams));
  }
  for (int i = 0; i < 64; ++i) {
    auto line = service->responseFor("r" + std::to_string(i), 30s);
    ASSERT_TRUE(line) << i;
    Json v = Json::parse(*line);
    EXPECT_EQ(v["ok"], true) << *line;
  }
  expectQuietExit(*service);
}

}  // namespace
}  // namespace tavren
