// Targeting, receipts and every posting sequence on the in-memory desktop, whose poster keeps
// each event it is given.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "server/dispatcher.h"
#include "focus/window_guard.h"
#include "input/event_targeting.h"
#include "input/input_posting.h"
#include "input/interaction_receipts.h"
#include "platform/fake/fake_desktop.h"
#include "support/service_fixture.h"

namespace tavren {
namespace {

// The fixture: process 201 has its main window 5000 at (100, 100) 400x300 behind a window of
// 202 and a pop-up 5001 at (150, 150) 100x50, plus windows no event may land in.
constexpr uint32_t kMain = 5000, kPopup = 5001;

std::vector<uint32_t> ids(const std::vector<TargetWindow>& windows) {
  std::vector<uint32_t> out;
  for (const TargetWindow& w : windows) out.push_back(w.id);
  return out;
}

class InputTest : public ::testing::Test {
 protected:
  InputTest() : desktop(FakeDesktop::fromFile(testing::fixturePath("desktop_input.json"))) {}

  FakeEventPoster& poster() { return desktop->fakeEventPoster(); }
  std::vector<WindowInfo> list() { return desktop->windows(); }
  Focus& focus() { return desktop->focus(); }
  Outcome mouse(Json params) { return postMouseMethod(params, poster(), *desktop, *desktop, focus()); }
  Outcome key(Json params) { return postKeyMethod(params, poster(), *desktop, *desktop, focus()); }
  Outcome scroll(Json params) {
    return postScrollMethod(params, poster(), *desktop, *desktop, focus());
  }

  // The posted pointer events as "Move", "Down1", "Up1", "Drag" with their window and
  // window-relative location: "Down1 5000 20,30".
  std::vector<std::string> pointerLog() {
    std::vector<std::string> out;
    for (const PostedEvent& p : poster().posted()) {
      const auto* e = std::get_if<PointerEvent>(&p.event);
      if (!e) continue;
      static const char* kNames[] = {"Move", "Down", "Up", "Drag"};
      std::string name = kNames[static_cast<int>(e->action)];
      if (e->action == PointerAction::Down || e->action == PointerAction::Up) {
        name += std::to_string(e->clickCount);
        if (e->button != 0) name += "b" + std::to_string(e->button);
      }
      out.push_back(name + " " + std::to_string(p.window.id) + " " +
                    std::to_string(int(e->location.x - p.window.origin.x)) + "," +
                    std::to_string(int(e->location.y - p.window.origin.y)));
    }
    return out;
  }

  std::unique_ptr<FakeDesktop> desktop;
};

TEST_F(InputTest, TargetIsTheNamedWindowOfTheProcessWithItsUsableSiblings) {
  auto target = eventWindow({{"windowId", kMain}}, 201, list());
  ASSERT_TRUE(target);
  EXPECT_EQ(target->attached.id, kMain);
  EXPECT_EQ(target->attached.origin.x, 100);
  // Front to back; not the other process's cover, the 1-point-wide, negative-layer, off-screen
  // or frameless windows.
  EXPECT_EQ(ids(target->sameProcess), (std::vector<uint32_t>{kPopup, kMain}));

  // No target: no window named, not a window number, another owner, no frame, no such window.
  for (Json id : {Json(), Json(0), Json(-1), Json(4294967296.0), Json("5000"), Json(5002),
                  Json(5006), Json(9999)}) {
    Json params = Json::object();
    if (!id.is_null()) params["windowId"] = id;
    EXPECT_FALSE(eventWindow(params, 201, list())) << id;
  }
  // An off-screen window can be named; events then land in the on-screen ones or beside it.
  EXPECT_TRUE(eventWindow({{"windowId", 5005}}, 201, list()));
}

TEST_F(InputTest, EachPointLandsInTheFrontMostWindowOfTheProcessThatHoldsIt) {
  const EventTarget target = *eventWindow({{"windowId", kMain}}, 201, list());
  EXPECT_EQ(target.windowAt({160, 160}).id, kPopup);
  EXPECT_EQ(target.windowAt({160, 160}).origin.y, 150);
  EXPECT_EQ(target.windowAt({150, 150}).id, kPopup);  // left and top edges inside
  EXPECT_EQ(target.windowAt({250, 160}).id, kMain);   // right edge outside
  EXPECT_EQ(target.windowAt({160, 200}).id, kMain);   // bottom edge outside
  EXPECT_EQ(target.windowAt({400.5, 310}).id, kMain);  // over the tiny window
  EXPECT_EQ(target.windowAt({-50, 900}).id, kMain);    // outside everything: the named one

  // Unnamed: the main window (normal layer) rather than the front-most pop-up.
  auto unnamed = processTarget(201, list());
  ASSERT_TRUE(unnamed);
  EXPECT_EQ(unnamed->attached.id, kMain);
  EXPECT_EQ(unnamed->windowAt({160, 160}).id, kPopup);
  EXPECT_EQ(keyWindow(Json::object(), 201, list())->id, kMain);
  EXPECT_EQ(keyWindow({{"windowId", kPopup}}, 201, list())->id, kPopup);
  EXPECT_FALSE(processTarget(203, list()));
  EXPECT_FALSE(keyWindow(Json::object(), 203, list()));
}

TEST_F(InputTest, SnapshotAndReceiptTellWhatChanged) {
  poster().setPointer(Point{10, 20});
  Json before = interactionSnapshot(poster(), *desktop, focus());
  EXPECT_EQ(before["helperPid"], getpid());
  EXPECT_EQ(before["frontmostPid"], 202);
  EXPECT_EQ(before["frontmostId"], "Sketch");  // no bundle id: the name
  EXPECT_EQ(before["cursorX"], 10.0);
  EXPECT_EQ(before["cursorY"], 20.0);

  const DesktopState state = readDesktopState(poster(), *desktop, focus());
  EXPECT_EQ(snapshotJson(state), before);
  poster().setPointer(Point{10.005, 20});
  Json receipt = inputReceipt({201, kMain}, state, poster(), *desktop, *desktop, focus());
  EXPECT_EQ(receipt["posted"], true);
  EXPECT_EQ(receipt["targetPid"], 201);
  EXPECT_EQ(receipt["targetAlive"], true);
  EXPECT_EQ(receipt["frontmostUnchanged"], true);
  EXPECT_EQ(receipt["cursorUnchanged"], true);
  EXPECT_EQ(receipt["before"], before);
  EXPECT_EQ(receipt["after"]["cursorX"], 10.005);
  EXPECT_FALSE(receipt.contains("windowAddressed"));

  // The frontmost application is the owner of the active window, named by its bundle id; a
  // reading after the switch names the new one, not the one read before.
  desktop->fakeFocus().setActiveWindow(kMain);
  EXPECT_EQ(interactionSnapshot(poster(), *desktop, focus())["frontmostId"], "org.example.Notes");
  receipt = inputReceipt({201, kMain}, state, poster(), *desktop, *desktop, focus());
  EXPECT_EQ(receipt["frontmostUnchanged"], false);
  EXPECT_EQ(receipt["after"]["frontmostPid"], 201);
  EXPECT_EQ(receipt["after"]["frontmostId"], "org.example.Notes");

  // A target whose window closed is still alive while it runs; once it quits it is not, even
  // though it was frontmost before.
  desktop->closeWindow(kPopup);
  desktop->fakeFocus().setActiveWindow(0);
  EXPECT_EQ(inputReceipt({201, kPopup}, state, poster(), *desktop, *desktop, focus())["targetAlive"],
            true);
  desktop->fakeFocus().setActiveWindow(kMain);
  const DesktopState notesFront = readDesktopState(poster(), *desktop, focus());
  poster().setPointer(Point{10, 20.01});
  desktop->quit(201);  // the front application is gone too
  receipt = inputReceipt({201, kMain}, notesFront, poster(), *desktop, *desktop, focus());
  EXPECT_EQ(receipt["cursorUnchanged"], false);
  EXPECT_EQ(receipt["targetAlive"], false);
  EXPECT_EQ(receipt["frontmostUnchanged"], false);
  EXPECT_EQ(receipt["after"]["frontmostPid"], 0);
  EXPECT_EQ(receipt["after"]["frontmostId"], "");

  // No pointer to read: 0, 0.
  poster().setPointer(std::nullopt);
  EXPECT_EQ(interactionSnapshot(poster(), *desktop, focus())["cursorX"], 0.0);
}

TEST_F(InputTest, ClicksAreAMoveThenNumberedPressesAndReleases) {
  Outcome o = mouse({{"pid", 201}, {"x", 120}, {"y", 130}, {"windowId", kMain}});
  ASSERT_TRUE(o.ok());
  EXPECT_EQ(pointerLog(), (std::vector<std::string>{"Move 5000 20,30", "Down1 5000 20,30",
                                                    "Up1 5000 20,30"}));
  EXPECT_EQ(o.value()["windowAddressed"], true);
  EXPECT_EQ(o.value()["posted"], true);
  EXPECT_EQ(o.value()["targetPid"], 201);
  EXPECT_EQ(o.value()["cursorUnchanged"], true);
  // The move tells the backend a press follows; a move alone does not.
  EXPECT_TRUE(std::get<PointerEvent>(poster().posted().front().event).pressFollows);
  ASSERT_TRUE(mouse({{"pid", 201}, {"kind", "move"}}).ok());
  EXPECT_FALSE(std::get<PointerEvent>(poster().posted().back().event).pressFollows);
}

TEST_F(InputTest, ClickCountsKindsAndButtons) {
  struct Case {
    Json params;
    std::vector<std::string> log;
  } cases[] = {
      {{{"clickCount", 2}},
       {"Move 5000 20,30", "Down1 5000 20,30", "Up1 5000 20,30", "Down2 5000 20,30",
        "Up2 5000 20,30"}},
      {{{"clickCount", 7}, {"kind", "right_click"}},
       {"Move 5000 20,30", "Down1b1 5000 20,30", "Up1b1 5000 20,30", "Down2b1 5000 20,30",
        "Up2b1 5000 20,30", "Down3b1 5000 20,30", "Up3b1 5000 20,30"}},
      {{{"clickCount", 1e300}, {"kind", "middle_click"}},
       {"Move 5000 20,30", "Down1b2 5000 20,30", "Up1b2 5000 20,30", "Down2b2 5000 20,30",
        "Up2b2 5000 20,30", "Down3b2 5000 20,30", "Up3b2 5000 20,30"}},
      {{{"clickCount", 0}, {"kind", "Right_Click"}},
       {"Move 5000 20,30", "Down1 5000 20,30", "Up1 5000 20,30"}},
      {{{"clickCount", -4}, {"kind", 3}}, {"Move 5000 20,30", "Down1 5000 20,30", "Up1 5000 20,30"}},
      {{{"kind", "move"}}, {"Move 5000 20,30"}},
  };
  for (Case& c : cases) {
    desktop = FakeDesktop::fromFile(testing::fixturePath("desktop_input.json"));
    c.params.update({{"pid", 201}, {"x", 120}, {"y", 130}});
    ASSERT_TRUE(mouse(c.params).ok()) << c.params;
    EXPECT_EQ(pointerLog(), c.log) << c.params;
  }
}

TEST_F(InputTest, DragStepsInEighthsAndReleasesWhereItPressed) {
  ASSERT_TRUE(mouse({{"pid", 201}, {"kind", "drag"}, {"x", 100}, {"y", 100}, {"toX", 180},
                     {"toY", 140}, {"windowId", kMain}})
                  .ok());
  // The pop-up at (150, 150) is crossed but the press window keeps every event.
  EXPECT_EQ(pointerLog(),
            (std::vector<std::string>{"Move 5000 0,0", "Down1 5000 0,0", "Drag 5000 10,5",
                                      "Drag 5000 20,10", "Drag 5000 30,15", "Drag 5000 40,20",
                                      "Drag 5000 50,25", "Drag 5000 60,30", "Drag 5000 70,35",
                                      "Drag 5000 80,40", "Up1 5000 80,40"}));
}

// Posts that take time to confirm overlap with the pauses, but never bring two events closer
// than their pause, not even after a first press the backend held back before sending it.
TEST_F(InputTest, EventsStayTheirPausesApartWhenPostsAreSlowOrHeldBack) {
  using Clock = std::chrono::steady_clock;
  std::vector<Clock::time_point> sent;
  poster().onPosted([&](const PostedEvent& p) {
    const auto* e = std::get_if<PointerEvent>(&p.event);
    if (e && e->action == PointerAction::Down && e->clickCount == 1) {
      std::this_thread::sleep_for(std::chrono::milliseconds(45));  // held back, then sent
      sent.push_back(Clock::now());
      return;
    }
    sent.push_back(Clock::now());
    std::this_thread::sleep_for(std::chrono::milliseconds(8));  // sent, then a slow verdict
  });
  auto gapsMs = [&] {
    std::vector<double> gaps;
    for (size_t i = 1; i < sent.size(); ++i) {
      gaps.push_back(std::chrono::duration<double, std::milli>(sent[i] - sent[i - 1]).count());
    }
    sent.clear();
    return gaps;
  };
  // A pause counts from when its post began, a little before the poster sees the event, and
  // that little varies (a millisecond or more under sanitizers): a quarter of the pause is
  // allowed for it. A pause counted from the start of a held-back press would leave no gap.
  auto atLeast = [](const std::vector<double>& gaps, std::vector<double> pauses) {
    ASSERT_EQ(gaps.size(), pauses.size());
    for (size_t i = 0; i < gaps.size(); ++i) {
      EXPECT_GE(gaps[i], pauses[i] * 0.75) << "gap " << i;
    }
  };

  ASSERT_TRUE(mouse({{"pid", 201}, {"x", 120}, {"y", 130}, {"clickCount", 2}}).ok());
  atLeast(gapsMs(), {60, 30, 20, 30});  // move, down 1, up 1, down 2, up 2
  ASSERT_TRUE(mouse({{"pid", 201}, {"kind", "drag"}, {"x", 120}, {"y", 130}, {"toX", 200}}).ok());
  atLeast(gapsMs(), {60, 30, 12, 12, 12, 12, 12, 12, 12, 12});
}

TEST_F(InputTest, AFailedPostLetsGoOfWhatItPressed) {
  poster().failAfter(4);  // move, press, two drag steps; the third step fails
  Outcome o = mouse({{"pid", 201}, {"kind", "drag"}, {"x", 100}, {"y", 100}, {"toX", 180},
                     {"toY", 140}});
  ASSERT_FALSE(o.ok());
  EXPECT_EQ(o.error().code, 7);
  EXPECT_EQ(errorDescription(o.error()), "Cannot create mouse event");
  EXPECT_EQ(pointerLog(), (std::vector<std::string>{"Move 5000 0,0", "Down1 5000 0,0",
                                                    "Drag 5000 10,5", "Drag 5000 20,10",
                                                    "Up1 5000 20,10"}));

  desktop = FakeDesktop::fromFile(testing::fixturePath("desktop_input.json"));
  poster().failAfter(0);  // the move itself: nothing sent
  EXPECT_EQ(mouse({{"pid", 201}}).error().code, 7);
  EXPECT_TRUE(pointerLog().empty());
}

TEST_F(InputTest, AWindowThatMovesAfterTheMoveStopsTheClick) {
  const Json guarded = {{"pid", 201}, {"x", 120}, {"y", 130}, {"windowId", kMain},
                        {"expectedWindow", {{"windowId", kMain}, {"pid", 201}, {"x", 100},
                                            {"y", 100}, {"w", 400}, {"h", 300}}}};
  poster().onPosted([&](const PostedEvent&) { desktop->setBounds(kMain, {140, 100, 400, 300}); });
  Outcome o = mouse(guarded);
  ASSERT_TRUE(o.ok());
  EXPECT_EQ(o.value(), staleWindowResult());
  // The move announced a press; a second one, where the pointer already is, withdraws it.
  EXPECT_EQ(pointerLog(), (std::vector<std::string>{"Move 5000 20,30", "Move 5000 20,30"}));
  EXPECT_FALSE(std::get<PointerEvent>(poster().posted().back().event).pressFollows);

  // A move never checks again; a closed window stops a click too.
  desktop = FakeDesktop::fromFile(testing::fixturePath("desktop_input.json"));
  poster().onPosted([&](const PostedEvent&) { desktop->closeWindow(kMain); });
  Json move = guarded;
  move["kind"] = "move";
  EXPECT_EQ(mouse(move).value()["posted"], true);
  desktop = FakeDesktop::fromFile(testing::fixturePath("desktop_input.json"));
  poster().onPosted([&](const PostedEvent&) { desktop->closeWindow(kMain); });
  EXPECT_EQ(mouse(guarded).value(), staleWindowResult());
}

TEST_F(InputTest, KeysAreOnePressAndReleaseWithTheirFlagsToTheMainWindow) {
  Outcome o = key({{"pid", 201}, {"keyCode", 0}, {"flags", 0x100000}});
  ASSERT_TRUE(o.ok());
  EXPECT_FALSE(o.value().contains("windowAddressed"));
  EXPECT_EQ(o.value()["targetAlive"], true);
  auto posted = poster().posted();
  ASSERT_EQ(posted.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const auto& k = std::get<KeyEvent>(posted[i].event);
    EXPECT_EQ(k.down, i == 0);
    EXPECT_EQ(k.keyCode, 0);
    EXPECT_EQ(k.flags, 0x100000u);
    EXPECT_EQ(posted[i].window.id, kMain);
    EXPECT_EQ(posted[i].pid, 201);
  }
  ASSERT_TRUE(key({{"pid", 201}, {"keyCode", 65535.9}}).ok());
  EXPECT_EQ(std::get<KeyEvent>(poster().posted().back().event).flags, 0u);
  EXPECT_EQ(std::get<KeyEvent>(poster().posted().back().event).keyCode, 65535);

  // A release that fails once is tried again; one the backend cannot make fails with nothing
  // pressed.
  poster().failAfter(1);
  ASSERT_TRUE(key({{"pid", 201}, {"keyCode", 36}}).ok());
  EXPECT_EQ(poster().posted().size(), 6u);
  poster().failAfter(0);
  EXPECT_EQ(key({{"pid", 201}, {"keyCode", 36}}).error().code, 4);
  EXPECT_EQ(poster().posted().size(), 6u);
}

// The desktop of the fixture, counting the whole-list reads and front lookups it answers.
class CountingDesktop final : public WindowServer, public Workspace {
 public:
  explicit CountingDesktop(FakeDesktop& d) : d_(d) {}
  std::vector<WindowInfo> windows() override { ++lists; return d_.windows(); }
  WindowListing unnamedListing() override {
    ++lists;
    return {d_.windows(), std::make_shared<WindowListingRecord>()};
  }
  std::optional<WindowInfo> window(uint32_t n) override { return d_.window(n); }
  std::vector<AppInfo> runningApplications() override { ++lists; return d_.runningApplications(); }
  std::optional<AppInfo> application(int32_t pid) override { ++lists; return d_.application(pid); }
  std::optional<AppInfo> applicationWithListing(int32_t pid, const WindowListing& l) override {
    if (l.record) ++fromListing;
    return d_.application(pid);
  }
  std::string executablePath(int32_t pid) override { return d_.executablePath(pid); }
  int lists = 0, fromListing = 0;

 private:
  FakeDesktop& d_;
};

TEST_F(InputTest, EachRequestReadsTheWindowListOnceAndNamesTheFrontFromIt) {
  CountingDesktop counting(*desktop);
  const Json pointAt = {{"pid", 201}, {"x", 160}, {"y", 160}, {"dy", 1}, {"kind", "move"}};
  const std::vector<Outcome> outcomes = {
      postMouseMethod(pointAt, poster(), counting, counting, focus()),
      postKeyMethod({{"pid", 201}, {"keyCode", 0}}, poster(), counting, counting, focus()),
      postScrollMethod(pointAt, poster(), counting, counting, focus())};
  for (const Outcome& o : outcomes) {
    ASSERT_TRUE(o.ok());
    EXPECT_EQ(o.value()["before"]["frontmostPid"], 202);
    EXPECT_EQ(o.value()["after"]["frontmostPid"], 202);
    EXPECT_NE(o.value()["before"]["frontmostId"], "");
  }
  EXPECT_EQ(counting.lists, 3);
  EXPECT_EQ(counting.fromListing, 3);
}

TEST_F(InputTest, ScrollIsOneEventOfLinesAtThePoint) {
  Outcome o = scroll({{"pid", 201}, {"x", 160}, {"y", 160}, {"dy", -3}});
  ASSERT_TRUE(o.ok());
  EXPECT_EQ(o.value()["windowAddressed"], false);
  auto posted = poster().posted();
  ASSERT_EQ(posted.size(), 1u);
  const auto& s = std::get<ScrollEvent>(posted[0].event);
  EXPECT_EQ(s.lines[0], -3);
  EXPECT_EQ(s.lines[1], 0);
  EXPECT_EQ(posted[0].window.id, kPopup);
  EXPECT_EQ(scroll({{"pid", 201}, {"windowId", kMain}, {"dx", 2}}).value()["windowAddressed"],
            true);
}

// The receipt tells how the scroll went, and never says "posted" for wheel events the window's
// toolkit is known to drop.
TEST_F(InputTest, ScrollReceiptTellsHowTheScrollWent) {
  const Json params = {{"pid", 201}, {"x", 160}, {"y", 160}, {"dy", -3}};
  Json r = scroll(params).value();
  EXPECT_EQ(r["posted"], true);
  EXPECT_EQ(r["delivery"], "wheel");
  poster().setScrollDelivery(ScrollDelivery::Accessibility);
  r = scroll(params).value();
  EXPECT_EQ(r["posted"], true);
  EXPECT_EQ(r["delivery"], "accessibility");
  poster().setScrollDelivery(ScrollDelivery::Ignored);
  r = scroll(params).value();
  EXPECT_EQ(r["posted"], false);
  EXPECT_EQ(r["delivery"], "ignored");
  EXPECT_EQ(r["targetPid"], 201);
  EXPECT_EQ(r["cursorUnchanged"], true);
  poster().setScrollDelivery(ScrollDelivery::Failed);
  EXPECT_EQ(scroll(params).error().code, 5);
}

TEST_F(InputTest, BadRequestsFailWithTheirMethodsCodesBeforeAnythingIsPosted) {
  for (Json pid : {Json(), Json(0), Json(-3), Json("201"), Json(0.9)}) {
    Json params = {{"keyCode", 0}, {"x", 120}, {"y", 130}};
    if (!pid.is_null()) params["pid"] = pid;
    EXPECT_EQ(errorDescription(mouse(params).error()), "Background mouse event requires pid");
    EXPECT_EQ(mouse(params).error().code, 6);
    EXPECT_EQ(errorDescription(key(params).error()), "Invalid keyboard event");
    EXPECT_EQ(key(params).error().code, 4);
    EXPECT_EQ(errorDescription(scroll(params).error()), "Invalid scroll event");
    EXPECT_EQ(scroll(params).error().code, 5);
  }
  // Values beyond their type are refused by name, with the method's code.
  EXPECT_EQ(errorDescription(mouse({{"pid", 3e9}}).error()),
            "INVALID_PARAMETER: pid must be a whole number from -2147483648 to 2147483647");
  EXPECT_EQ(mouse({{"pid", 3e9}}).error().code, 6);
  EXPECT_EQ(errorDescription(key({{"pid", 201}, {"keyCode", 65536}}).error()),
            "INVALID_PARAMETER: keyCode must be a whole number from 0 to 65535");
  EXPECT_EQ(key({{"pid", 201}, {"keyCode", -1}}).error().code, 4);
  EXPECT_EQ(key({{"pid", 201}, {"keyCode", 1}, {"flags", -1}}).error().code, 4);
  EXPECT_EQ(errorDescription(scroll({{"pid", 201}, {"dy", 3e9}}).error()),
            "INVALID_PARAMETER: dy must be a whole number from -2147483648 to 2147483647");
  EXPECT_EQ(scroll({{"pid", 201}, {"dx", -3e9}}).error().code, 5);
  // A process with no window to take the events.
  EXPECT_EQ(mouse({{"pid", 203}}).error().code, 7);
  EXPECT_EQ(key({{"pid", 203}, {"keyCode", 0}}).error().code, 4);
  EXPECT_EQ(scroll({{"pid", 203}, {"dy", 1}}).error().code, 5);
  EXPECT_TRUE(poster().posted().empty());

  // Huge coordinates are posted as given; the backend keeps them outside the window.
  ASSERT_TRUE(mouse({{"pid", 201}, {"kind", "move"}, {"x", 1e300}, {"y", -1e300}}).ok());
  EXPECT_EQ(std::get<PointerEvent>(poster().posted().back().event).location.x, 1e300);
}

TEST_F(InputTest, TheDispatcherServesTheInputMethods) {
  int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  {
    Service service(*desktop, devNull);
    auto run = [&](const std::string& method, const Json& params) {
      return handle(service, {{"id", "t"}, {"version", 1}, {"method", method}, {"params", params}});
    };
    EXPECT_EQ(run("interactionSnapshot", Json::object()).value()["frontmostPid"], 202);
    EXPECT_EQ(run("postMouse", {{"pid", 201}, {"kind", "move"}}).value()["targetPid"], 201);
    EXPECT_EQ(run("postKey", {{"pid", 201}, {"keyCode", 1}}).value()["posted"], true);
    EXPECT_EQ(run("postScroll", {{"pid", 201}, {"dy", 1}}).value()["posted"], true);
    EXPECT_EQ(run("postKey", Json::object()).error().code, 4);
  }
  close(devNull);
}

}  // namespace
}  // namespace tavren
