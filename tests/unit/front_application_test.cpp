#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "focus/focus_control.h"
#include "focus/front_application.h"
#include "platform/fake/fake_desktop.h"
#include "support/service_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;

// The fixture: Editor (101) in front through window 11; Viewer (202) with a menu, a minimized
// window and two shown ones; Mail (303) with only a minimized window; Tray (404) with a dock
// window only.
class FrontApplicationTest : public ::testing::Test {
 protected:
  explicit FrontApplicationTest(Json changes = Json::object()) {
    std::ifstream in(testing::fixturePath("desktop_focus.json"));
    Json fixture = Json::parse(in);
    fixture.merge_patch(changes);
    desktop = std::make_unique<FakeDesktop>(fixture);
  }

  Json call(Outcome (*method)(const Json&, Workspace&, Focus&), const Json& params) {
    Outcome o = method(params, *desktop, desktop->focus());
    EXPECT_TRUE(o.ok()) << (o.ok() ? "" : o.error().message);
    return o.ok() ? o.value() : Json();
  }
  Outcome bringOutcome(const Json& params) {
    return bringToFrontMethod(params, *desktop, desktop->focus(), desktop->eventPoster());
  }
  Json bring(const Json& params) {
    Outcome o = bringOutcome(params);
    EXPECT_TRUE(o.ok()) << (o.ok() ? "" : o.error().message);
    return o.ok() ? o.value() : Json();
  }
  Json restore(const Json& params) { return call(&restoreFrontMethod, params); }
  std::vector<std::string> journal() { return desktop->fakeFocus().journal(); }

  std::unique_ptr<FakeDesktop> desktop;
};

TEST_F(FrontApplicationTest, FrontmostAppHasNoFallbackBetweenItsStrings) {
  EXPECT_EQ(call(&frontmostAppMethod, {}),
            (Json{{"pid", 101}, {"bundleId", "org.example.Editor"}, {"name", "Editor"}}));
  desktop->fakeFocus().setActiveWindow(31);
  EXPECT_EQ(call(&frontmostAppMethod, {}),
            (Json{{"pid", 303}, {"bundleId", "org.example.Mail"}, {"name", ""}}));
  desktop->fakeFocus().setActiveWindow(0);
  EXPECT_EQ(call(&frontmostAppMethod, {}), (Json{{"pid", 0}, {"bundleId", ""}, {"name", ""}}));
}

TEST_F(FrontApplicationTest, BringingABackgroundAppSwitchesThroughItsFrontShownWindow) {
  EXPECT_EQ(bring({{"pid", 202}}), (Json{{"front", true},
                                         {"wasFront", false},
                                         {"switched", true},
                                         {"raised", false},
                                         {"previousPid", 101},
                                         {"previousId", "org.example.Editor"},
                                         {"previousName", "Editor"},
                                         {"cursorUnchanged", true}}));
  // Not the menu, not the minimized window.
  EXPECT_EQ(journal(), std::vector<std::string>{"activate 23"});

  // The previous application's strings fall back on each other.
  Json back = bring({{"pid", 303}});
  EXPECT_EQ(back["previousId"], "Viewer");
  EXPECT_EQ(back["previousName"], "Viewer");
  EXPECT_EQ(journal().back(), "activate 31");  // only a minimized window: that one
}

TEST_F(FrontApplicationTest, ChosenWindowIsActivatedAndRaisedOnlyWhenItIsTheTargets) {
  Json r = bring({{"pid", 202}, {"windowId", 24}, {"raise", true}});
  EXPECT_EQ(r["raised"], true);
  EXPECT_EQ(journal(), (std::vector<std::string>{"activate 24", "raise 24"}));

  // Another process's window, a menu, or a number that is no window number: the target's own
  // front window is activated and nothing is raised.
  for (Json window : {Json(11), Json(21), Json(4294967296.0), Json(-1)}) {
    desktop->fakeFocus().setActiveWindow(11);
    r = bring({{"pid", 202}, {"windowId", window}, {"raise", true}});
    EXPECT_EQ(r["raised"], false) << window;
    EXPECT_EQ(r["switched"], true) << window;
    EXPECT_EQ(journal().back(), "activate 23") << window;
  }
}

TEST_F(FrontApplicationTest, AlreadyFrontReportsNoPreviousAndSwitchesNothing) {
  Json r = bring({{"pid", 101}, {"windowId", 11}, {"raise", true}});
  EXPECT_EQ(r, (Json{{"front", true},
                     {"wasFront", true},
                     {"switched", false},
                     {"raised", true},
                     {"previousPid", 0},
                     {"previousId", ""},
                     {"previousName", ""},
                     {"cursorUnchanged", true}}));
  EXPECT_EQ(journal(), std::vector<std::string>{"raise 11"});
}

TEST_F(FrontApplicationTest, TargetNotRunningIsCodeEightAndChangesNothing) {
  for (Json params : {Json::object(), Json{{"pid", 0}}, Json{{"pid", -5}}, Json{{"pid", 999}},
                      Json{{"pid", 3e9}}, Json{{"pid", "202"}}}) {
    Outcome o = bringOutcome(params);
    ASSERT_FALSE(o.ok()) << params;
    EXPECT_EQ(o.error().code, 8);
    EXPECT_EQ(o.error().message, "Target process is not running");
  }
  desktop->quit(202);
  EXPECT_FALSE(bringOutcome({{"pid", 202}}).ok());
  EXPECT_TRUE(journal().empty());
}

TEST_F(FrontApplicationTest, AnAppWithoutActivatableWindowsIsARefusedSwitch) {
  Json r = bring({{"pid", 404}, {"raise", true}, {"windowId", 41}});
  EXPECT_EQ(r["switched"], false);
  EXPECT_EQ(r["front"], false);
  EXPECT_EQ(r["raised"], false);
  EXPECT_EQ(r["previousPid"], 101);
  EXPECT_TRUE(journal().empty());
}

TEST_F(FrontApplicationTest, PointerMovedDuringTheCommandIsReported) {
  desktop->fakeEventPoster().setPointer(std::nullopt);  // unreadable both times: the origin twice
  EXPECT_EQ(bring({{"pid", 202}})["cursorUnchanged"], true);
}

TEST_F(FrontApplicationTest, RestoreGivesTheFrontBackUnlessTheUserMovedOn) {
  bring({{"pid", 202}});
  EXPECT_EQ(restore({{"pid", 101}, {"targetPid", 202}}), (Json{{"restored", true}}));
  EXPECT_EQ(journal().back(), "activate 11");

  bring({{"pid", 202}});
  desktop->fakeFocus().setActiveWindow(31);  // the user clicked into Mail
  EXPECT_EQ(restore({{"pid", 101}, {"targetPid", 202}}),
            (Json{{"restored", false}, {"reason", "user moved on"}}));
  EXPECT_EQ(frontProcessPid(desktop->focus()), 303);
  // A target pid that fits no pid is never the front one.
  EXPECT_EQ(restore({{"pid", 101}, {"targetPid", 1e12}})["reason"], "user moved on");
  // Without a target pid the check is skipped.
  EXPECT_EQ(restore({{"pid", 101}}), (Json{{"restored", true}}));
}

TEST_F(FrontApplicationTest, RestoreToAGoneAppTouchesNothing) {
  bring({{"pid", 202}});
  desktop->quit(101);
  const size_t before = journal().size();
  for (Json pid : {Json(101), Json(0), Json(), Json(5e9)}) {
    Json params = {{"targetPid", 202}};
    if (!pid.is_null()) params["pid"] = pid;
    EXPECT_EQ(restore(params), (Json{{"restored", false}, {"reason", "previous app is gone"}}));
  }
  EXPECT_EQ(journal().size(), before);
  EXPECT_EQ(frontProcessPid(desktop->focus()), 202);
}

class NoWindowManagerTest : public FrontApplicationTest {
 protected:
  NoWindowManagerTest() : FrontApplicationTest({{"capabilities", {{"windowManager", false}}}}) {}
};

TEST_F(NoWindowManagerTest, NothingSwitchesOrRaisesButTheFrontIsStillRead) {
  EXPECT_EQ(call(&frontmostAppMethod, {})["pid"], 101);
  Json r = bring({{"pid", 202}, {"windowId", 23}, {"raise", true}});
  EXPECT_EQ(r["switched"], false);
  EXPECT_EQ(r["front"], false);
  EXPECT_EQ(r["raised"], false);
  EXPECT_EQ(r["previousPid"], 101);
  EXPECT_EQ(bring({{"pid", 101}})["front"], true);
  EXPECT_EQ(restore({{"pid", 202}, {"targetPid", 101}}),
            (Json{{"restored", false}, {"reason", "front switch refused"}}));
}

class IgnoringManagerTest : public FrontApplicationTest {
 protected:
  IgnoringManagerTest() : FrontApplicationTest({{"focus", {{"managerIgnores", true}}}}) {}
};

TEST_F(IgnoringManagerTest, WaitEndsOnTheChangeItWaitsFor) {
  Focus& focus = desktop->focus();
  EXPECT_FALSE(waitUntilFront(focus, 202, 0ms));
  EXPECT_TRUE(waitUntilFront(focus, 101, 0ms));
  EXPECT_FALSE(waitUntilFront(focus, 202, -5ms));

  // A change to another window does not end the wait; the one to the target's does.
  std::thread later([&] {
    desktop->fakeFocus().setActiveWindow(31);
    desktop->fakeFocus().setActiveWindow(24);
  });
  EXPECT_TRUE(waitUntilFront(focus, 202, 60s));
  later.join();
}

TEST_F(IgnoringManagerTest, AnAcceptedSwitchThatNeverShowsIsNotFront) {
  ASSERT_TRUE(setFront(desktop->focus(), 202, 0));
  EXPECT_FALSE(waitUntilFront(desktop->focus(), 202, 30ms));
  EXPECT_EQ(journal(), std::vector<std::string>{"activate 23"});
}

TEST(WindowToActivateTest, RequestedThenShownThenMinimized) {
  const std::vector<FocusableWindow> windows = {{7, true}, {8, false}, {9, false}};
  EXPECT_EQ(windowToActivate(windows, 9), 9u);
  EXPECT_EQ(windowToActivate(windows, 7), 7u);  // asked for by number, even minimized
  EXPECT_EQ(windowToActivate(windows, 0), 8u);
  EXPECT_EQ(windowToActivate(windows, 12), 8u);
  EXPECT_EQ(windowToActivate(std::vector<FocusableWindow>{{7, true}, {6, true}}, 0), 7u);
  EXPECT_EQ(windowToActivate({}, 7), std::nullopt);
}

}  // namespace
}  // namespace tavren
