// Remote desktop input on the in-memory poster: click numbering, drag buttons, modifier flags,
// the error codes, and the release by message, watchdog and end of stream.
#include "input/remote_desktop_input.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/fake/fake_event_poster.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;

class RemoteInputTest : public ::testing::Test {
 protected:
  Outcome send(const Json& params, bool canPost = true) {
    return remoteDesktopInput(params, state, poster, canPost);
  }
  void ok(const Json& params) {
    Outcome o = send(params);
    ASSERT_TRUE(o.ok()) << params << " " << errorDescription(o.error());
    EXPECT_EQ(o.value(), (Json{{"posted", true}}));
  }
  void pointer(const std::string& phase, double x, double y, int button = 0) {
    ok({{"type", "pointer"}, {"phase", phase}, {"x", x}, {"y", y}, {"button", button}});
  }
  void key(int code, bool down) { ok({{"type", "key"}, {"keyCode", code}, {"down", down}}); }
  std::vector<PointerEvent> pointers() {
    std::vector<PointerEvent> out;
    for (const auto& e : poster.global()) {
      if (auto* p = std::get_if<PointerEvent>(&e)) out.push_back(*p);
    }
    return out;
  }
  std::vector<int> clickNumbersOfPresses() {
    std::vector<int> out;
    for (const PointerEvent& p : pointers()) {
      if (p.action == PointerAction::Down || p.action == PointerAction::Up) {
        out.push_back(p.clickCount);
      }
    }
    return out;
  }
  void expectError(const Json& params, int code, const std::string& description) {
    Outcome o = send(params);
    ASSERT_FALSE(o.ok()) << params;
    EXPECT_EQ(o.error().code, code) << params;
    EXPECT_EQ(errorDescription(o.error()), description) << params;
  }

  RemoteInputState state;
  FakeEventPoster poster;
};

TEST_F(RemoteInputTest, QuickPressesCountToThreeThenStartAgain) {
  for (int i = 0; i < 4; ++i) {
    pointer("down", 100, 100);
    pointer("up", 100, 100);
  }
  EXPECT_EQ(clickNumbersOfPresses(), (std::vector<int>{1, 1, 2, 2, 3, 3, 1, 1}));
}

TEST_F(RemoteInputTest, DistanceTimeButtonAndMovesBreakTheSequence) {
  // Five points apart: a new sequence.
  pointer("down", 100, 100);
  pointer("up", 100, 100);
  pointer("down", 104, 103);  // exactly 5 points away
  pointer("up", 104, 103);
  // Within 4 points (inclusive) continues.
  pointer("down", 104, 107);
  pointer("up", 104, 107);
  // A move more than 4 points away and back breaks it.
  pointer("move", 120, 107);
  pointer("move", 104, 107);
  pointer("down", 104, 107);
  pointer("up", 104, 107);
  // Another button does not continue it.
  pointer("down", 104, 107, 2);
  pointer("up", 104, 107, 2);
  EXPECT_EQ(clickNumbersOfPresses(), (std::vector<int>{1, 1, 1, 1, 2, 2, 1, 1, 1, 1}));

  // Slower than the double-click time: a new sequence.
  poster.clear();
  poster.setDoubleClickInterval(20ms);
  pointer("down", 10, 10);
  pointer("up", 10, 10);
  std::this_thread::sleep_for(40ms);
  pointer("down", 10, 10);
  pointer("up", 10, 10);
  EXPECT_EQ(clickNumbersOfPresses(), (std::vector<int>{1, 1, 1, 1}));
}

TEST(ClickNumber, FollowsTheLastPress) {
  const auto t = RemoteClock::now();
  RemoteClickSequence last{.button = 0, .count = 2, .x = 0, .y = 0, .at = t};
  EXPECT_EQ(clickNumber(last, 0, 4, 0, t + 400ms, 400ms), 3);
  EXPECT_EQ(clickNumber(last, 0, 4, 0, t + 401ms, 400ms), 1);
  EXPECT_EQ(clickNumber(last, 0, 0, 0, t - 1ms, 400ms), 1);  // clock before the press
  EXPECT_EQ(clickNumber(RemoteClickSequence{}, 0, 0, 0, t, 400ms), 1);
  last.count = 0;  // broken by a move
  EXPECT_EQ(clickNumber(last, 0, 0, 0, t, 400ms), 1);
}

TEST_F(RemoteInputTest, MovesDragTheHeldButtonPrimaryFirst) {
  pointer("move", 5, 5, 1);
  pointer("down", 5, 5, 2);
  pointer("move", 6, 6);
  pointer("down", 6, 6, 0);
  pointer("move", 7, 7);
  auto p = pointers();
  ASSERT_EQ(p.size(), 5u);
  EXPECT_EQ(p[0].action, PointerAction::Move);
  EXPECT_EQ(p[0].button, 2);  // middle in the poster's numbering
  EXPECT_EQ(p[1].button, 1);  // secondary is the poster's right button
  EXPECT_EQ(p[2].action, PointerAction::Drag);
  EXPECT_EQ(p[2].button, 1);
  EXPECT_EQ(p[4].action, PointerAction::Drag);
  EXPECT_EQ(p[4].button, 0);
}

TEST_F(RemoteInputTest, ModifierFlagsFollowHeldKeys) {
  key(56, true);  // left shift
  pointer("down", 1, 1);
  key(59, true);  // left control
  ok({{"type", "wheel"}, {"dy", 3}, {"dx", -2}});
  ok({{"type", "text"}, {"text", "a"}});
  key(56, false);
  pointer("up", 1, 1);
  key(55, true);  // command
  key(61, true);  // right option
  key(0, true);   // "a" sets nothing

  auto events = poster.global();
  ASSERT_EQ(events.size(), 10u);
  EXPECT_EQ(std::get<KeyEvent>(events[0]).flags, 0x20000u);
  EXPECT_EQ(std::get<PointerEvent>(events[1]).flags, 0x20000u);
  EXPECT_EQ(std::get<KeyEvent>(events[2]).flags, 0x60000u);
  const auto& wheel = std::get<ScrollEvent>(events[3]);
  EXPECT_EQ(wheel.flags, 0x60000u);
  EXPECT_EQ(wheel.lines[0], 3);
  EXPECT_EQ(wheel.lines[1], -2);
  EXPECT_EQ(wheel.unit, ScrollUnit::Pixel);
  EXPECT_EQ(std::get<KeyEvent>(events[4]).flags, 0u);  // text carries none
  EXPECT_EQ(std::get<KeyEvent>(events[4]).text, "a");
  EXPECT_EQ(std::get<KeyEvent>(events[5]).flags, 0x40000u);  // shift up: control remains
  EXPECT_FALSE(std::get<KeyEvent>(events[5]).down);
  EXPECT_EQ(std::get<PointerEvent>(events[6]).flags, 0x40000u);
  EXPECT_EQ(std::get<KeyEvent>(events[9]).flags, 0x1C0000u);
}

TEST_F(RemoteInputTest, ErrorsAndWhatTheyLeave) {
  expectError({{"type", "pointer"}, {"phase", "drag"}}, 42, "The operation couldn't be completed. (ComputerUse error 42.)");
  expectError({{"type", "pointer"}, {"phase", "down"}, {"button", 3}}, 42, "The operation couldn't be completed. (ComputerUse error 42.)");
  expectError({{"type", "pointer"}, {"phase", "down"}, {"button", -1}}, 42, "The operation couldn't be completed. (ComputerUse error 42.)");
  expectError({{"type", "key"}, {"keyCode", 70000}, {"down", true}}, 42, "The operation couldn't be completed. (ComputerUse error 42.)");
  expectError({{"type", "wheel"}, {"dy", 1e12}}, 42, "The operation couldn't be completed. (ComputerUse error 42.)");
  expectError({{"type", "Key"}}, 42, "Invalid remote desktop input");
  expectError(Json::object(), 42, "Invalid remote desktop input");
  EXPECT_TRUE(poster.global().empty());
  EXPECT_TRUE(state.at.has_value());  // input was accepted, though invalid

  // 4097 UTF-16 units fail and type nothing; 4096, two per emoji, pass.
  std::string emoji;
  for (int i = 0; i < 2048; ++i) emoji += "\xF0\x9F\x99\x82";
  ok({{"type", "text"}, {"text", emoji}});
  expectError({{"type", "text"}, {"text", emoji + "a"}}, 42, "The operation couldn't be completed. (ComputerUse error 42.)");
  EXPECT_EQ(poster.global().size(), 1u);

  // An event that cannot be posted is code 41; the key stays recorded as held.
  poster.setFailing(true);
  expectError({{"type", "key"}, {"keyCode", 56}, {"down", true}}, 41, "The operation couldn't be completed. (ComputerUse error 41.)");
  EXPECT_EQ(state.keys.count(56), 1u);
  poster.setFailing(false);

  // Without the right to post, only "release" and "heartbeat" answer.
  state.at.reset();
  Outcome denied = send({{"type", "key"}, {"keyCode", 0}, {"down", true}}, false);
  ASSERT_FALSE(denied.ok());
  EXPECT_EQ(denied.error().code, 40);
  EXPECT_EQ(errorDescription(denied.error()), "Remote desktop requires Accessibility permission");
  EXPECT_FALSE(state.at.has_value());
  EXPECT_TRUE(send({{"type", "heartbeat"}}, false).ok());
  EXPECT_TRUE(state.at.has_value());
  EXPECT_TRUE(send({{"type", "release"}}, false).ok());
  EXPECT_TRUE(state.keys.empty());
}

TEST_F(RemoteInputTest, ReleaseLetsGoOfEverythingAtThePointer) {
  key(56, true);
  key(0, true);
  pointer("down", 30, 40);
  pointer("down", 30, 40, 2);
  pointer("move", 50, 60);
  poster.clear();
  ok({{"type", "release"}});
  auto events = poster.global();
  ASSERT_EQ(events.size(), 4u);
  std::set<int> buttons;
  std::set<int> keys;
  for (const auto& e : events) {
    if (auto* p = std::get_if<PointerEvent>(&e)) {
      EXPECT_EQ(p->action, PointerAction::Up);
      EXPECT_EQ(p->location.x, 50);
      EXPECT_EQ(p->location.y, 60);
      buttons.insert(p->button);
    } else {
      const auto& k = std::get<KeyEvent>(e);
      EXPECT_FALSE(k.down);
      keys.insert(k.keyCode);
    }
  }
  EXPECT_EQ(buttons, (std::set<int>{0, 1}));
  EXPECT_EQ(keys, (std::set<int>{0, 56}));
  EXPECT_TRUE(state.keys.empty() && state.buttons.empty() && state.pressedClickCounts.empty());
  EXPECT_EQ(state.clicks.button, -1);

  // The next press starts a new sequence.
  poster.clear();
  pointer("down", 50, 60);
  EXPECT_EQ(clickNumbersOfPresses(), (std::vector<int>{1}));
}

TEST_F(RemoteInputTest, WatchdogReleasesOnlyAfterTheIdleLimit) {
  key(56, true);
  const auto last = *state.at;
  poster.clear();
  remoteInputWatchdogTick(state, poster, last + 10s);
  EXPECT_TRUE(poster.global().empty());
  EXPECT_EQ(state.keys.size(), 1u);
  // A heartbeat renews the time.
  std::this_thread::sleep_for(2ms);
  ok({{"type", "heartbeat"}});
  remoteInputWatchdogTick(state, poster, last + 10s + 1ms);
  EXPECT_EQ(state.keys.size(), 1u);
  remoteInputWatchdogTick(state, poster, *state.at + 10s);
  EXPECT_EQ(state.keys.size(), 1u);
  remoteInputWatchdogTick(state, poster, *state.at + 10s + 1ms);
  EXPECT_TRUE(state.keys.empty());
  ASSERT_EQ(poster.global().size(), 1u);
  EXPECT_FALSE(std::get<KeyEvent>(poster.global()[0]).down);

  // A state that never saw input counts as idle; nothing held posts nothing.
  RemoteInputState fresh;
  poster.clear();
  remoteInputWatchdogTick(fresh, poster);
  EXPECT_TRUE(poster.global().empty());
}

TEST_F(RemoteInputTest, WatchdogAndMessagesNeverInterleave) {
  // Run under TSan: messages from one thread, ticks and end-of-stream releases from others.
  std::thread ticks([&] {
    for (int i = 0; i < 200; ++i) remoteInputWatchdogTick(state, poster, RemoteClock::now() + 11s);
  });
  std::thread ends([&] {
    for (int i = 0; i < 200; ++i) releaseHeldRemoteInput(state, poster);
  });
  for (int i = 0; i < 200; ++i) {
    send({{"type", "key"}, {"keyCode", 56}, {"down", true}});
    send({{"type", "pointer"}, {"phase", "down"}, {"x", i}, {"y", 0}});
  }
  ticks.join();
  ends.join();
  releaseHeldRemoteInput(state, poster);
  EXPECT_TRUE(state.keys.empty() && state.buttons.empty());
}

}  // namespace
}  // namespace tavren
