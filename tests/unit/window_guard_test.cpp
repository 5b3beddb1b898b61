#include <gtest/gtest.h>

#include "focus/window_guard.h"
#include "platform/fake/fake_desktop.h"
#include "support/service_fixture.h"

namespace tavren {
namespace {

class WindowGuardTest : public ::testing::Test {
 protected:
  WindowGuardTest() : desktop(FakeDesktop::fromFile(testing::fixturePath("desktop_basic.json"))) {}

  bool matches(const Json& expected) {
    return observedWindowMatches(Json{{"expectedWindow", expected}}, *desktop);
  }
  // The editor window of the fixture: x 100.4, y 200.5, w 300, h 400, owner 101.
  Json editor() { return {{"windowId", 4194307}, {"pid", 101}, {"x", 100}, {"y", 201}, {"w", 300}, {"h", 400}}; }

  std::unique_ptr<FakeDesktop> desktop;
};

TEST_F(WindowGuardTest, OnlyAnObjectGuards) {
  EXPECT_TRUE(observedWindowMatches(Json::object(), *desktop));
  EXPECT_TRUE(observedWindowMatches(Json{{"expectedWindow", "w1"}}, *desktop));
  EXPECT_TRUE(observedWindowMatches(Json{{"expectedWindow", Json::array({1, 2})}}, *desktop));
  EXPECT_TRUE(observedWindowMatches(Json{{"expectedWindow", nullptr}}, *desktop));
  EXPECT_FALSE(matches(Json::object()));
}

TEST_F(WindowGuardTest, FrameMatchesAfterRoundingHalvesAwayFromZero) {
  EXPECT_TRUE(matches(editor()));
  Json y200 = editor();
  y200["y"] = 200;
  EXPECT_FALSE(matches(y200));
  desktop->setBounds(4194307, Rect{-10.5, 0.49, 299.5, 400.4});
  EXPECT_TRUE(matches({{"windowId", 4194307}, {"pid", 101}, {"x", -11}, {"y", 0}, {"w", 300}, {"h", 400}}));
}

TEST_F(WindowGuardTest, MovedResizedOrClosedWindowsAreRefused) {
  desktop->setBounds(4194307, Rect{101.4, 200.5, 300, 400});
  EXPECT_FALSE(matches(editor()));  // moved by one point
  desktop->setBounds(4194307, Rect{100.4, 200.5, 301, 400});
  EXPECT_FALSE(matches(editor()));  // resized
  desktop->setBounds(4194307, Rect{100.4, 200.5, 300, 400});
  EXPECT_TRUE(matches(editor()));
  desktop->closeWindow(4194307);
  EXPECT_FALSE(matches(editor()));
}

TEST_F(WindowGuardTest, OwnerMustBeGivenAndMatch) {
  for (Json pid : {Json(), Json(0), Json(-101), Json("101"), Json(102), Json(101.5)}) {
    Json e = editor();
    if (pid.is_null()) {
      e.erase("pid");
    } else {
      e["pid"] = pid;
    }
    EXPECT_FALSE(matches(e)) << pid;
  }
}

TEST_F(WindowGuardTest, WindowNumbersThatCannotBeWindowsAreRefused) {
  for (Json id : {Json(0), Json(-1), Json(-4194307), Json(4294967296.0 + 4194307), Json(1e300), Json("4194307")}) {
    Json e = editor();
    e["windowId"] = id;
    EXPECT_FALSE(matches(e)) << id;
  }
  Json fractional = editor();
  fractional["windowId"] = 4194307.9;  // truncates to the window
  EXPECT_TRUE(matches(fractional));
}

}  // namespace
}  // namespace tavren
