#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "display/remote_display_manager.h"
#include "display/remote_display_methods.h"
#include "platform/fake/fake_desktop.h"
#include "platform/fake/fake_displays.h"
#include "platform/platform_switch.h"
#include "server/dispatcher.h"
#include "support/service_fixture.h"

namespace tavren {
namespace {

const std::string kNoValidOwner = "缺少有效的远控会话标识。";
const std::string kOwnedByAnother = "虚拟显示器正由另一个远控会话使用。";
const std::string kSizeNotNumber = "虚拟显示器尺寸无效。";
const std::string kSizeOutOfRange = "虚拟显示器尺寸必须在 640×480 至 3840×2160 之间。";
const std::string kNotCreated = "macOS 未能创建虚拟显示器；请确认已登录图形桌面。";
const std::string kUnsupported = "当前 macOS 不提供可用的虚拟显示器接口。";
const std::string kListUnreadable = "无法读取 macOS 显示器状态，未修改显示器配置。";

Json errorObject(const std::string& message) { return Json{{"error", message}}; }

class RemoteDisplayManagerTest : public ::testing::Test {
 protected:
  RemoteDisplayManagerTest()
      : manager(displays, [this](const DesktopAddress* where) {
          changes.push_back(where ? where->display : "released");
        }) {}
  Json ensure(Json params) { return manager.ensure(params); }

  FakeDisplays displays;
  std::vector<std::string> changes;
  TavrenRemoteDisplayManager manager;
};

TEST_F(RemoteDisplayManagerTest, OwnerMustBeOneTo256Utf16Units) {
  for (Json params : {Json::object(), Json{{"owner", 7}}, Json{{"owner", ""}},
                      Json{{"owner", nullptr}}, Json{{"owner", std::string(257, 'a')}},
                      // 128 emoji: 256 bytes too many, and 256 UTF-16 units plus one.
                      Json{{"owner", "a" + [] {
                              std::string s;
                              for (int i = 0; i < 128; ++i) s += "\xF0\x9F\x98\x80";
                              return s;
                            }()}}}) {
    EXPECT_EQ(ensure(params), errorObject(kNoValidOwner)) << params.dump();
  }
  EXPECT_EQ(displays.nextId, 100u) << "nothing made";
  EXPECT_EQ(ensure({{"owner", std::string(256, 'a')}}), (Json{{"displayId", "100"}, {"created", true}}));
}

TEST_F(RemoteDisplayManagerTest, OneOwnerAtATime) {
  EXPECT_EQ(ensure({{"owner", "one"}}), (Json{{"displayId", "100"}, {"created", true}}));
  EXPECT_EQ(displays.last->width, 1920);
  EXPECT_EQ(displays.last->height, 1080);
  EXPECT_EQ(ensure({{"owner", "one"}, {"width", 800}}), (Json{{"displayId", "100"}, {"created", false}}));
  EXPECT_EQ(ensure({{"owner", "One"}}), errorObject(kOwnedByAnother));
  EXPECT_EQ(manager.status(), (Json{{"supported", true}, {"headless", true},
                                     {"displayIds", {"100"}}, {"ownedDisplayId", "100"}}));
  for (Json params : {Json::object(), Json{{"owner", "two"}}, Json{{"owner", 1}}}) {
    EXPECT_EQ(manager.release(params), (Json{{"released", false}}));
  }
  EXPECT_EQ(displays.ended, 0);
  EXPECT_EQ(manager.release({{"owner", "one"}}), (Json{{"released", true}}));
  EXPECT_EQ(displays.ended, 1);
  EXPECT_EQ(manager.release({{"owner", "one"}}), (Json{{"released", false}}));
  EXPECT_EQ(changes, (std::vector<std::string>{":100", "released"}));
  EXPECT_EQ(manager.status(), (Json{{"supported", true}, {"headless", true}, {"displayIds", Json::array()}}));
  EXPECT_EQ(ensure({{"owner", "two"}}), (Json{{"displayId", "101"}, {"created", true}}));
}

TEST_F(RemoteDisplayManagerTest, SizesAreWholeNumbersWithinLimits) {
  for (Json size : {Json{{"width", 639}}, Json{{"width", 3841}}, Json{{"height", 479}},
                    Json{{"height", 2161}}, Json{{"width", 640.5}}, Json{{"width", true}},
                    Json{{"width", -1920}}, Json{{"width", 1e300}}}) {
    size["owner"] = "o";
    EXPECT_EQ(ensure(size), errorObject(kSizeOutOfRange)) << size.dump();
  }
  for (Json size : {Json{{"width", "1920"}}, Json{{"height", nullptr}},
                    Json{{"width", 100}, {"height", "x"}}, Json{{"height", Json::array()}}}) {
    size["owner"] = "o";
    EXPECT_EQ(ensure(size), errorObject(kSizeNotNumber)) << size.dump();
  }
  EXPECT_EQ(displays.nextId, 100u);
  EXPECT_EQ(ensure({{"owner", "o"}, {"width", 3840.0}, {"height", 480}})["created"], true);
  EXPECT_EQ(displays.last->width, 3840);
  EXPECT_EQ(displays.last->height, 480);
}

TEST_F(RemoteDisplayManagerTest, NothingIsMadeBesideAPhysicalDisplayOrWithoutTheInterface) {
  displays.physical = std::vector<uint32_t>{0};
  EXPECT_EQ(manager.status(), (Json{{"supported", true}, {"headless", false}, {"displayIds", {"0"}}}));
  EXPECT_EQ(ensure({{"owner", "o"}, {"width", "bad"}}), (Json{{"created", false}, {"skipped", "display-present"}}));

  displays.physical = std::nullopt;
  EXPECT_EQ(manager.status(), (Json{{"supported", true}, {"headless", false}, {"reason", kListUnreadable}}));
  EXPECT_EQ(ensure({{"owner", "o"}}), errorObject(kListUnreadable));

  displays.physical = std::vector<uint32_t>{};
  displays.available = false;
  EXPECT_EQ(manager.status(), (Json{{"supported", false}, {"headless", true},
                                     {"displayIds", Json::array()}, {"reason", kUnsupported}}));
  EXPECT_EQ(ensure({{"owner", "o"}}), errorObject(kUnsupported));

  displays.available = true;
  displays.creationWorks = false;
  EXPECT_EQ(ensure({{"owner", "o"}}), errorObject(kNotCreated));
  EXPECT_EQ(manager.status()["displayIds"], Json::array());
  EXPECT_TRUE(changes.empty());
}

TEST_F(RemoteDisplayManagerTest, AnOwnedDisplayStaysWhenAMonitorAppears) {
  ASSERT_EQ(ensure({{"owner", "o"}})["created"], true);
  displays.physical = std::vector<uint32_t>{0};
  EXPECT_EQ(manager.status(), (Json{{"supported", true}, {"headless", false},
                                     {"displayIds", {"0", "100"}}, {"ownedDisplayId", "100"}}));
  EXPECT_EQ(ensure({{"owner", "o"}}), (Json{{"displayId", "100"}, {"created", false}}));
}

TEST_F(RemoteDisplayManagerTest, ADisplayThatEndedOnItsOwnIsNoLongerOwned) {
  ASSERT_EQ(ensure({{"owner", "o"}})["created"], true);
  displays.serversCrashed = true;
  EXPECT_EQ(manager.status(), (Json{{"supported", true}, {"headless", true}, {"displayIds", Json::array()}}));
  EXPECT_EQ(displays.ended, 1);
  EXPECT_EQ(ensure({{"owner", "p"}}), (Json{{"displayId", "101"}, {"created", true}}));
  EXPECT_EQ(changes, (std::vector<std::string>{":100", "released", ":101"}));
}

TEST_F(RemoteDisplayManagerTest, PlatformExceptionsAnswerWithTheGuardsMessages) {
  displays.throwing = true;
  EXPECT_EQ(guardedDisplayStatus(manager),
            (Json{{"supported", false}, {"headless", false}, {"reason", "macOS 虚拟显示器接口不可用。"}}));
  EXPECT_EQ(guardedDisplayEnsure(manager, {{"owner", "o"}}),
            errorObject("macOS 虚拟显示器接口不兼容，未能创建显示器。"));
  displays.throwing = false;
  displays.creationThrows = true;
  EXPECT_EQ(guardedDisplayEnsure(manager, {{"owner", "o"}}),
            errorObject("macOS 虚拟显示器接口不兼容，未能创建显示器。"));
  EXPECT_EQ(guardedDisplayRelease(manager, {{"owner", "o"}}), (Json{{"released", false}}));
}

TEST_F(RemoteDisplayManagerTest, TheEndOfTheProcessEndsTheDisplay) {
  ASSERT_EQ(ensure({{"owner", "o"}})["created"], true);
  manager.endOwnedDisplay();
  EXPECT_EQ(displays.ended, 1);
  EXPECT_FALSE(manager.status().contains("ownedDisplayId"));
}

TEST(RemoteDisplayOutcome, OnlyAStringErrorFailsTheRequest) {
  Outcome failed = remoteDisplayOutcome(errorObject("busy"));
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().domain, "RemoteDisplay");
  EXPECT_EQ(failed.error().code, 1);
  EXPECT_EQ(failed.error().message, "busy");
  Outcome odd = remoteDisplayOutcome(Json{{"error", 3}, {"x", 1}});
  ASSERT_TRUE(odd.ok());
  EXPECT_EQ(odd.value(), (Json{{"error", 3}, {"x", 1}}));
}


TEST(PlatformSwitchTest, CallsGoToTheCurrentPlatformWhileOthersRead) {
  auto initial = FakeDesktop::fromFile(testing::fixturePath("desktop_basic.json"));
  PlatformSwitch platform(*initial);
  EXPECT_EQ(&platform.workspace(), &initial->workspace());
  auto next = FakeDesktop::fromFile(testing::fixturePath("desktop_basic.json"));
  FakeDesktop* nextRaw = next.get();

  std::atomic<bool> stop{false};
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      while (!stop) {
        Workspace& w = platform.workspace();
        EXPECT_TRUE(&w == &initial->workspace() || &w == &nextRaw->workspace());
        (void)w.runningApplications();
      }
    });
  }
  platform.install(std::move(next));
  EXPECT_EQ(&platform.windowServer(), &nextRaw->windowServer());
  platform.restoreInitial();
  EXPECT_EQ(&platform.capture(), &initial->capture());
  stop = true;
  for (auto& t : readers) t.join();
}

// The service serves the display it made: its requests go to the platform made for it, and back
// to the one it started with once the display is released.
TEST(RemoteDisplayServiceTest, RequestsFollowTheOwnedDisplay) {
  auto initial = FakeDesktop::fromFile(testing::fixturePath("desktop_basic.json"));
  FakeDisplays displays;
  std::vector<std::string> madeFor;
  FakeDesktop* made = nullptr;
  int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  {
    Service service(*initial, devNull,
                    {.displays = &displays, .platformFor = [&](const DesktopAddress& where) {
                       madeFor.push_back(where.display);
                       auto p = FakeDesktop::fromFile(testing::fixturePath("desktop_windows.json"));
                       made = p.get();
                       return std::unique_ptr<Platform>(std::move(p));
                     }});
    std::thread loop([&] { service.mainLoop.run(); });
    auto run = [&](const std::string& method, const Json& params) {
      return handle(service, Json{{"version", 1}, {"method", method}, {"params", params}});
    };
    Outcome busy = Outcome(Json());
    ASSERT_TRUE(run("remoteDisplayEnsure", {{"owner", "o"}, {"width", 1024}, {"height", 768}}).ok());
    EXPECT_EQ(madeFor, std::vector<std::string>{":100"});
    EXPECT_EQ(&service.platform.workspace(), &made->workspace());
    busy = run("remoteDisplayEnsure", {{"owner", "p"}});
    ASSERT_FALSE(busy.ok());
    EXPECT_EQ(busy.error().domain, "RemoteDisplay");
    EXPECT_EQ(busy.error().message, kOwnedByAnother);
    Outcome status = run("remoteDisplayStatus", Json::object());
    ASSERT_TRUE(status.ok());
    EXPECT_EQ(status.value()["ownedDisplayId"], "100");
    EXPECT_EQ(run("remoteDisplayRelease", {{"owner", "o"}}).value(), (Json{{"released", true}}));
    EXPECT_EQ(&service.platform.workspace(), &initial->workspace());
    EXPECT_EQ(displays.ended, 1);
    service.mainLoop.quit();
    loop.join();
  }
  close(devNull);
}

}  // namespace
}  // namespace tavren
