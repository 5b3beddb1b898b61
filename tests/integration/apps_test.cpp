// The real service on a headless desktop with real applications.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
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

// The owner name of the pid's windows in a window list (windowServerWindows or windowCatalog);
// every window of one process must carry the same.
std::string ownerIn(const Json& windows, pid_t pid) {
  std::string owner = "(no window)";
  for (const auto& w : windows) {
    if (w.value("pid", 0) != pid) continue;
    if (owner != "(no window)" && w["owner"] != owner) return "(two names)";
    owner = w["owner"];
  }
  return owner;
}

std::string titledWindowPath() {
  return std::string(TAVREN_BIN_DIR) + "/tavren-fixture-titled-window";
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
  testing::expectQuietExit(*service);
}

TEST(Apps, ProcessesWithoutWindowsAreNotApplications) {
  auto service = DesktopEnvironment::startService();
  std::string error;
  pid_t sleeper = DesktopEnvironment::desktop().launch({"/bin/sleep", "30"}, &error);
  ASSERT_GT(sleeper, 0) << error;
  Json r = call(*service, "1", "appIdentity", "{\"pid\":" + std::to_string(sleeper) + "}");
  EXPECT_EQ(r["error"], "No running app for pid " + std::to_string(sleeper));
  kill(sleeper, SIGKILL);
  testing::expectQuietExit(*service);
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
  testing::expectQuietExit(*service);
}

TEST(Apps, ManyParallelRequestsOnTheRealDesktop) {
  auto service = DesktopEnvironment::startService();
  const std::string pidParams =
      "{\"pid\":" + std::to_string(DesktopEnvironment::widgetFactoryPid()) + "}";
  for (int i = 0; i < 64; ++i) {
    service->send(
        requestLine("r" + std::to_string(i), i % 2 ? "appIdentity" : "listRunningApps", pidParams));
  }
  for (int i = 0; i < 64; ++i) {
    auto line = service->responseFor("r" + std::to_string(i), 30s);
    ASSERT_TRUE(line) << i;
    Json v = Json::parse(*line);
    EXPECT_EQ(v["ok"], true) << *line;
  }
  testing::expectQuietExit(*service);
}

// The name of a process in every method that names it, first asked through the window list
// (which used to name a process by WM_CLASS until the workspace had learnt its accessibility
// name).
std::vector<std::string> namesEverywhere(ServiceProcess& service, pid_t pid) {
  const std::string params = "{\"pid\":" + std::to_string(pid) + "}";
  auto result = [&](const std::string& method, const std::string& methodParams) {
    Json r = call(service, method, method, methodParams);
    EXPECT_EQ(r["ok"], true) << r;
    return r.is_object() ? r.value("result", Json()) : Json();
  };
  std::vector<std::string> names;
  names.push_back(ownerIn(result("windowCatalog", "{}"), pid));
  names.push_back(ownerIn(result("windowServerWindows", params).value("windows", Json()), pid));
  const Json apps = result("listRunningApps", "{}");
  const Json* listed = appWithPid(apps, pid);
  names.push_back(listed ? (*listed)["name"].get<std::string>() : "(not listed)");
  names.push_back(result("appIdentity", params).value("name", "(none)"));
  return names;
}

TEST(Apps, AProcessHasOneNameInEveryMethodAndWhileStopped) {
  auto service = DesktopEnvironment::startService();
  std::string error;
  pid_t app =
      DesktopEnvironment::desktop().launch({titledWindowPath(), "--title", "One name"}, &error);
  ASSERT_GT(app, 0) << error;
  ASSERT_TRUE(DesktopEnvironment::desktop().waitForWindow(app, "One name", 30s));
  // No desktop entry: its accessibility name (GTK's program name), not its WM_CLASS class
  // "Tavren-fixture-titled-window".
  const std::vector<std::string> expected(4, "tavren-fixture-titled-window");
  EXPECT_EQ(namesEverywhere(*service, app), expected);

  kill(app, SIGSTOP);
  for (int round = 0; round < 2; ++round) {
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(namesEverywhere(*service, app), expected) << "round " << round;
    // Named from what was learnt: no call into the stopped application.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s) << "round " << round;
  }
  kill(app, SIGCONT);
  EXPECT_EQ(namesEverywhere(*service, app), expected);
  kill(app, SIGTERM);
  testing::expectQuietExit(*service);
}

TEST(Apps, DesktopEntryEditedInPlaceIsSeenByTheNextRequest) {
  namespace fs = std::filesystem;
  const fs::path dataHome =
      fs::temp_directory_path() / ("tavren-apps-test-" + std::to_string(getpid()));
  const fs::path entry = dataHome / "applications/tavren-titled.desktop";
  fs::create_directories(entry.parent_path());
  auto writeEntry = [&](const std::string& name) {
    std::ofstream(entry) << "[Desktop Entry]\nType=Application\nName=" << name
                         << "\nExec=" << titledWindowPath() << "\n";  // truncated in place
  };
  writeEntry("Entry Before");
  auto environment = DesktopEnvironment::desktop().environment();
  environment["XDG_DATA_HOME"] = dataHome.string();
  auto service = testing::startService({testing::serviceBinary()}, environment);

  std::string error;
  pid_t app =
      DesktopEnvironment::desktop().launch({titledWindowPath(), "--title", "Entry"}, &error);
  ASSERT_GT(app, 0) << error;
  ASSERT_TRUE(DesktopEnvironment::desktop().waitForWindow(app, "Entry", 30s));
  EXPECT_EQ(namesEverywhere(*service, app), std::vector<std::string>(4, "Entry Before"));
  auto directoryTime = fs::last_write_time(entry.parent_path());
  writeEntry("Entry After");
  ASSERT_EQ(fs::last_write_time(entry.parent_path()), directoryTime);
  EXPECT_EQ(namesEverywhere(*service, app), std::vector<std::string>(4, "Entry After"));

  kill(app, SIGTERM);
  testing::expectQuietExit(*service);
  fs::remove_all(dataHome);
}

}  // namespace
}  // namespace tavren
