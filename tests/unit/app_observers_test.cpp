#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <mutex>
#include <thread>

#include "focus/app_observers.h"
#include "platform/fake/fake_desktop.h"
#include "server/dispatcher.h"
#include "support/service_fixture.h"

namespace tavren {
namespace {

// Editor (201, bundle id, four windows of layer 0), editor-helper (202, no bundle id),
// nameless (205, neither).
class AppObserversTest : public ::testing::Test {
 protected:
  AppObserversTest() : desktop(FakeDesktop::fromFile(testing::fixturePath("desktop_windows.json"))) {}

  Json install(int32_t pid) {
    AppInfo app = *desktop->application(pid);
    return installAppObserver(app, observers, desktop->appWatcher(), desktop->applicationWindows(),
                              [this](Json e) {
                                std::lock_guard lock(mutex);
                                events.push_back(std::move(e));
                              });
  }
  std::vector<Json> taken() {
    std::lock_guard lock(mutex);
    return std::exchange(events, {});
  }

  std::unique_ptr<FakeDesktop> desktop;
  AppObservers observers;
  std::mutex mutex;
  std::vector<Json> events;
};

TEST_F(AppObserversTest, WatchingTwiceInstallsOnceAndReportsEachChangeOnce) {
  EXPECT_EQ(install(201), (Json{{"pid", 201}, {"watching", true}, {"windows", 4}}));
  EXPECT_EQ(install(201), (Json{{"pid", 201}, {"watching", true}, {"existing", true}}));
  EXPECT_EQ(desktop->fakeAppWatcher().watchCalls(201), 1);

  ASSERT_TRUE(desktop->fakeAppWatcher().report({.pid = 201, .notification = "AXMoved",
                                                .title = "notes.txt"}));
  std::vector<Json> lines = taken();
  ASSERT_EQ(lines.size(), 1u);
  const Json& e = lines[0];
  EXPECT_EQ(e.size(), 7u);
  EXPECT_EQ(e["version"], 1);
  EXPECT_EQ(e["event"], "windowLifecycle");
  EXPECT_EQ(e["pid"], 201);
  EXPECT_EQ(e["appId"], "org.example.Editor");
  EXPECT_EQ(e["notification"], "AXMoved");
  EXPECT_EQ(e["title"], "notes.txt");
  EXPECT_GT(e["at"].get<int64_t>(), 1'600'000'000'000);
  EXPECT_FALSE(e.contains("id"));
  EXPECT_FALSE(e.contains("ok"));

  // Changes of an application nobody watches go nowhere.
  EXPECT_FALSE(desktop->fakeAppWatcher().report({.pid = 203, .notification = "AXMoved", .title = ""}));
  EXPECT_TRUE(taken().empty());
}

TEST_F(AppObserversTest, ConcurrentRequestsForOneApplicationInstallOneWatch) {
  std::vector<Json> answers(8);
  std::vector<std::thread> threads;
  for (auto& a : answers) threads.emplace_back([&] { a = install(201); });
  for (auto& t : threads) t.join();
  int installed = 0;
  for (const Json& a : answers) installed += a.contains("windows") ? 1 : 0;
  EXPECT_EQ(installed, 1);
  EXPECT_EQ(desktop->fakeAppWatcher().watchCalls(201), 1);
}

TEST_F(AppObserversTest, AFailedInstallationIsNotStoredAndIsTriedAgain) {
  desktop->fakeAppWatcher().failWith(kAXErrorCannotComplete);
  EXPECT_EQ(install(201), (Json{{"pid", 201}, {"watching", false}, {"code", -25204}}));
  desktop->fakeAppWatcher().failWith(0);
  EXPECT_EQ(install(201), (Json{{"pid", 201}, {"watching", true}, {"windows", 4}}));
  EXPECT_EQ(desktop->fakeAppWatcher().watchCalls(201), 2);
}

TEST_F(AppObserversTest, IdentityFallsBackToTheNameAndIsEmptyOnceTheProcessEnded) {
  install(202);
  install(205);
  auto& watcher = desktop->fakeAppWatcher();
  watcher.report({.pid = 202, .notification = "AXApplicationHidden", .title = "", .ofApplication = true});
  watcher.report({.pid = 205, .notification = "AXTitleChanged", .title = "t"});
  desktop->quit(202);
  watcher.report({.pid = 202, .notification = "AXUIElementDestroyed", .title = ""});
  watcher.report({.pid = 202, .notification = "AXApplicationShown", .title = "", .ofApplication = true});
  std::vector<Json> lines = taken();
  ASSERT_EQ(lines.size(), 4u);
  // The application element's title is the application's name.
  EXPECT_EQ(lines[0]["appId"], "editor-helper");
  EXPECT_EQ(lines[0]["title"], "editor-helper");
  EXPECT_EQ(lines[1]["appId"], "");
  EXPECT_EQ(lines[1]["title"], "t");
  // An ended process still has its lines, with what can no longer be read left empty.
  EXPECT_EQ(lines[2]["pid"], 202);
  EXPECT_EQ(lines[2]["appId"], "");
  EXPECT_EQ(lines[2]["notification"], "AXUIElementDestroyed");
  EXPECT_EQ(lines[3]["title"], "");
}

TEST_F(AppObserversTest, WatchAppResolvesThroughTheCatalogue) {
  int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  {
    Service service(*desktop, devNull);
    auto run = [&](const Json& params) {
      return handle(service,
                    Json{{"id", "w"}, {"version", 1}, {"method", "watchApp"}, {"params", params}});
    };
    Outcome none = run({{"app", "No Such App"}});
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error().code, 18);
    EXPECT_EQ(errorDescription(none.error()), "No matching running app");
    Outcome watched = run({{"pid", 203}});
    ASSERT_TRUE(watched.ok());
    EXPECT_EQ(watched.value(), (Json{{"pid", 203}, {"watching", true}, {"windows", 1}}));
    EXPECT_EQ(run({{"app", "org.example.Editor2"}}).value()["existing"], true);
  }
  close(devNull);
}

}  // namespace
}  // namespace tavren
