// Interaction recording on the in-memory desktop: key names and kinds, the methods' answers,
// numbering, exclusion, redaction of typed secrets, restart and stop, and a hung application.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "platform/fake/fake_desktop.h"
#include "recording/recording_event.h"
#include "recording/recording_methods.h"
#include "recording/recording_rules.h"
#include "recording/recording_stream.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;

constexpr uint64_t kShift = 0x20000, kControl = 0x40000, kOption = 0x80000, kCommand = 0x100000;

ObservedInput keyPress(uint16_t code, uint64_t flags = 0) {
  ObservedInput in;
  in.key = KeyEvent{.keyCode = code, .down = true, .flags = flags, .text = {}};
  in.location = {5, 5};
  return in;
}

ObservedInput press(int button, Point at, uint64_t flags = 0) {
  ObservedInput in;
  in.pointer = PointerEvent{.action = PointerAction::Down, .button = button, .location = at,
                            .flags = flags};
  in.location = at;
  return in;
}

ObservedInput wheel(int vertical, int horizontal, Point at) {
  ObservedInput in;
  in.scroll = ScrollEvent{.location = at};
  in.scroll->lines[0] = vertical;
  in.scroll->lines[1] = horizontal;
  in.location = at;
  return in;
}

TEST(RecordingRulesTest, KeysAreNamedByTheTableAndOthersByCode) {
  EXPECT_EQ(safeKeyName(0), "a");
  EXPECT_EQ(safeKeyName(46), "m");
  EXPECT_EQ(safeKeyName(36), "return");
  EXPECT_EQ(safeKeyName(126), "up");
  EXPECT_EQ(safeKeyName(18), "key-18");  // the digit 1
  EXPECT_EQ(safeKeyName(10), "key-10");
  EXPECT_EQ(safeKeyName(kNoKeyCode), "key-65535");
}

TEST(RecordingRulesTest, KindFollowsModifiersAndSpecialKeys) {
  auto kind = [](uint16_t code, uint64_t flags) {
    const auto mods = recordingModifierNames(flags);
    return std::string(*recordingKind(keyPress(code, flags), mods, safeKeyName(code)));
  };
  EXPECT_EQ(kind(0, 0), "text-input");
  EXPECT_EQ(kind(0, kShift), "text-input");
  EXPECT_EQ(kind(0, kCommand), "key");
  EXPECT_EQ(kind(0, kControl), "key");
  EXPECT_EQ(kind(0, kOption), "key");
  EXPECT_EQ(kind(18, 0), "text-input");
  for (uint16_t special : {36, 48, 49, 51, 53, 123, 124, 125, 126}) {
    EXPECT_EQ(kind(special, 0), "key") << special;
  }
  EXPECT_EQ(recordingModifierNames(kShift | kCommand | kOption | kControl | 0x10000),
            (std::vector<std::string>{"cmd", "ctrl", "alt", "shift"}));
  const std::vector<std::string> none;
  EXPECT_EQ(*recordingKind(press(0, {}), none, ""), "click");
  EXPECT_EQ(*recordingKind(press(1, {}), none, ""), "right-click");
  EXPECT_EQ(*recordingKind(press(2, {}), none, ""), "middle-click");
  EXPECT_EQ(*recordingKind(press(4, {}), none, ""), "middle-click");
  EXPECT_EQ(*recordingKind(wheel(1, 0, {}), none, ""), "scroll");
  ObservedInput release = keyPress(0);
  release.key->down = false;
  EXPECT_FALSE(recordingKind(release, none, "a"));
}

TEST(RecordingRulesTest, ExclusionIsExactAndCaseSensitive) {
  EXPECT_TRUE(isExcludedRecordingApp(kHostAppId));
  EXPECT_TRUE(isExcludedRecordingApp("com.apple.Terminal"));
  EXPECT_TRUE(isExcludedRecordingApp("org.gnome.Terminal"));
  EXPECT_TRUE(isExcludedRecordingApp("gcr-prompter"));
  EXPECT_FALSE(isExcludedRecordingApp("org.gnome.terminal"));
  EXPECT_FALSE(isExcludedRecordingApp("org.gnome.Terminal.Extra"));
}

// Lines as the host would get them, with a wait for a number of them.
struct Collected {
  void add(Json line) {
    {
      std::lock_guard lock(mutex);
      lines.push_back(std::move(line));
    }
    changed.notify_all();
  }
  std::vector<Json> waitFor(size_t count, std::chrono::milliseconds bound = 5s) {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, bound, [&] { return lines.size() >= count; });
    return lines;
  }
  std::vector<Json> now() {
    std::lock_guard lock(mutex);
    return lines;
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Json> lines;
};

const char* kDesktop = R"({
  "capabilities": {"display": true, "accessibility": true, "windowManager": true},
  "apps": [{"pid": 101, "bundleId": "org.example.Editor", "name": "Editor", "regular": true},
           {"pid": 202, "bundleId": "org.gnome.Terminal", "name": "Terminal", "regular": true},
           {"pid": 303, "name": "Viewer", "regular": true}],
  "windows": [{"number": 1, "ownerPid": 101, "bounds": {"x": 0, "y": 0, "w": 400, "h": 300},
               "onScreen": true},
              {"number": 2, "ownerPid": 202, "bounds": {"x": 500, "y": 0, "w": 400, "h": 300},
               "onScreen": true},
              {"number": 3, "ownerPid": 303, "bounds": {"x": 0, "y": 400, "w": 400, "h": 300},
               "onScreen": true}],
  "focus": {"activeWindow": 1},
  "accessibility": {
    "101": {"children": [{"role": "AXWindow", "title": "Sign in", "position": [0, 0],
                          "size": [400, 300], "children": [
      {"role": "AXTextField", "subrole": "AXSecureTextField", "title": "", "focused": true,
       "position": [10, 10], "size": [200, 20]},
      {"role": "AXButton", "title": "OK", "position": [10, 50], "size": [80, 20]}]}]},
    "303": {"children": [{"role": "AXWindow", "title": "View", "position": [0, 400],
                          "size": [400, 300], "children": [
      {"role": "AXTextField", "title": "Notes", "focused": true,
       "position": [10, 410], "size": [200, 20]}]}]}
  }
})";

class RecordingStreamTest : public ::testing::Test {
 protected:
  RecordingStreamTest()
      : desktop(Json::parse(kDesktop)),
        stream(RecordingDesktop{desktop.workspace(), desktop.focus(), desktop.windowServer(),
                                desktop.accessibility()},
               [this](Json line) { out.add(std::move(line)); }) {}

  Json start(const Json& params) {
    Outcome o = startRecordingMethod(params, stream, desktop.inputMonitor());
    return o.ok() ? o.value() : Json(o.error().code);
  }
  Json stop() { return stopRecordingMethod(Json::object(), stream).value(); }
  void deliver(const ObservedInput& in) { desktop.fakeInputMonitor().deliver(in); }

  FakeDesktop desktop;
  Collected out;
  RecordingStream stream;
};

TEST_F(RecordingStreamTest, StartNeedsAnIdentifier) {
  for (const Json& params : {Json::object(), Json{{"recordingId", ""}}, Json{{"recordingId", 7}}}) {
    Outcome o = startRecordingMethod(params, stream, desktop.inputMonitor());
    ASSERT_FALSE(o.ok()) << params;
    EXPECT_EQ(o.error().code, 25);
    EXPECT_EQ(o.error().message, "Missing recording id");
  }
  EXPECT_EQ(desktop.fakeInputMonitor().observers(), 0);
  EXPECT_EQ(stop(), (Json{{"recordingId", ""}, {"recording", false}, {"eventCount", 0}}));
}

TEST_F(RecordingStreamTest, EventsCarryTheirFieldsInOrder) {
  EXPECT_EQ(start({{"recordingId", "r1"}}), (Json{{"recordingId", "r1"}, {"recording", true}}));
  deliver(press(0, {20, 60}, kCommand | kShift));
  deliver(wheel(-1, 1, {30.5, 61}));
  deliver(press(1, {450, 450}));  // over no window
  const std::vector<Json> lines = out.waitFor(3);
  ASSERT_EQ(lines.size(), 3u);
  const Json& click = lines[0];
  EXPECT_EQ(click["version"], 1);
  EXPECT_EQ(click["event"], "recordingAction");
  EXPECT_EQ(click["recordingId"], "r1");
  EXPECT_EQ(click["sequence"], 1);
  EXPECT_EQ(click["kind"], "click");
  EXPECT_EQ(click["appId"], "org.example.Editor");
  EXPECT_EQ(click["appName"], "Editor");
  EXPECT_EQ(click["pid"], 101);
  EXPECT_EQ(click["x"], 20.0);
  EXPECT_EQ(click["key"], "");
  EXPECT_EQ(click["modifiers"], (Json{"cmd", "shift"}));
  EXPECT_EQ(click["role"], "AXButton");
  EXPECT_EQ(click["label"], "OK");
  EXPECT_EQ(click["sensitive"], false);
  EXPECT_GT(click["at"].get<int64_t>(), 1600000000000);
  EXPECT_EQ(lines[1]["sequence"], 2);
  EXPECT_EQ(lines[1]["kind"], "scroll");
  EXPECT_EQ(lines[1]["deltaY"], -1.0);
  EXPECT_EQ(lines[1]["deltaX"], 1.0);
  EXPECT_EQ(lines[1]["x"], 30.5);
  EXPECT_EQ(lines[2]["kind"], "right-click");
  EXPECT_FALSE(lines[2].contains("role"));
  EXPECT_FALSE(lines[2].contains("label"));
  EXPECT_FALSE(lines[2].contains("sensitive"));
}

TEST_F(RecordingStreamTest, TypingIntoASecretFieldShowsNoCharacter) {
  start({{"recordingId", "r"}});
  deliver(keyPress(4));            // h
  deliver(keyPress(18, kShift));   // !
  deliver(keyPress(36));           // return
  desktop.focus().activate(3);     // a plain field of another application
  deliver(keyPress(4));
  const std::vector<Json> lines = out.waitFor(4);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0]["key"], "[protected]");
  EXPECT_EQ(lines[0]["kind"], "text-input");
  EXPECT_EQ(lines[0]["sensitive"], true);
  EXPECT_EQ(lines[0]["role"], "AXTextField");
  EXPECT_EQ(lines[1]["key"], "[protected]");
  EXPECT_EQ(lines[1]["modifiers"], (Json{"shift"}));
  EXPECT_EQ(lines[2]["key"], "return");
  EXPECT_EQ(lines[2]["kind"], "key");
  EXPECT_EQ(lines[3]["key"], "h");
  EXPECT_EQ(lines[3]["appId"], "Viewer");
  EXPECT_EQ(lines[3]["label"], "Notes");
}

TEST_F(RecordingStreamTest, ExcludedApplicationsWriteNothingButCount) {
  start({{"recordingId", "r"}});
  deliver(press(0, {20, 60}));
  deliver(keyPress(0));
  desktop.focus().activate(2);  // a terminal
  deliver(keyPress(0));
  desktop.focus().activate(1);
  deliver(keyPress(36));
  std::vector<Json> lines = out.waitFor(3);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2]["sequence"], 4);
  EXPECT_EQ(stop(), (Json{{"recordingId", "r"}, {"recording", false}, {"eventCount", 4}}));
  EXPECT_EQ(desktop.fakeInputMonitor().observers(), 0);
  EXPECT_FALSE(desktop.fakeInputMonitor().deliver(keyPress(0)));
}

TEST_F(RecordingStreamTest, RestartReplacesAndNumbersFromOne) {
  start({{"recordingId", "old"}});
  deliver(keyPress(36));
  out.waitFor(1);
  start({{"recordingId", "new"}});
  EXPECT_EQ(desktop.fakeInputMonitor().observers(), 1);
  deliver(keyPress(36));
  std::vector<Json> lines = out.waitFor(2);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1]["recordingId"], "new");
  EXPECT_EQ(lines[1]["sequence"], 1);
  EXPECT_EQ(stop()["eventCount"], 1);
  start({{"recordingId", "again"}});
  deliver(keyPress(36));
  EXPECT_EQ(out.waitFor(3)[2]["sequence"], 1);
}

TEST_F(RecordingStreamTest, MonitorUnavailableStillSetsTheRecording) {
  desktop.fakeInputMonitor().setAvailable(false);
  EXPECT_EQ(start({{"recordingId", "r"}}), (Json{{"recordingId", "r"}, {"recording", false}}));
  EXPECT_EQ(stop(), (Json{{"recordingId", "r"}, {"recording", false}, {"eventCount", 0}}));
}

// An application whose accessibility does not answer until released.
class HungAccessibility final : public Accessibility {
 public:
  HungAccessibility(Accessibility& inner, int32_t hungPid) : inner_(inner), hungPid_(hungPid) {}
  bool trusted() override { return true; }
  std::unique_ptr<AccessibilitySnapshot> snapshot(int32_t pid) override {
    if (pid == hungPid_) {
      std::unique_lock lock(mutex_);
      released_.wait(lock, [&] { return released; });
    }
    return inner_.snapshot(pid);
  }
  std::unique_ptr<AccessibleElement> element(int32_t pid, PathRoot root, int64_t index,
                                             std::span<const int64_t> children) override {
    return inner_.element(pid, root, index, children);
  }
  void release() {
    {
      std::lock_guard lock(mutex_);
      released = true;
    }
    released_.notify_all();
  }

 private:
  Accessibility& inner_;
  int32_t hungPid_;
  std::mutex mutex_;
  std::condition_variable released_;
  bool released = false;
};

TEST(RecordingHungAppTest, AHungApplicationCostsItsEventsTheirElementOnly) {
  FakeDesktop desktop(Json::parse(kDesktop));
  HungAccessibility hung(desktop.accessibility(), 303);
  Collected out;
  {
    RecordingStream stream(RecordingDesktop{desktop.workspace(), desktop.focus(),
                                            desktop.windowServer(), hung},
                           [&](Json line) { out.add(std::move(line)); }, 50ms);
    stream.start("r", desktop.inputMonitor());
    desktop.fakeInputMonitor().deliver(press(0, {20, 410}));  // over the hung application
    desktop.fakeInputMonitor().deliver(press(0, {20, 420}));
    desktop.fakeInputMonitor().deliver(press(0, {20, 60}));   // over a live one
    desktop.fakeInputMonitor().deliver(keyPress(4));
    // Every line is out while the hung lookup still waits.
    const std::vector<Json> lines = out.waitFor(4);
    ASSERT_EQ(lines.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(lines[i]["sequence"], i + 1);
    EXPECT_FALSE(lines[0].contains("role"));
    EXPECT_FALSE(lines[1].contains("role"));
    EXPECT_EQ(lines[2]["label"], "OK");
    EXPECT_EQ(lines[3]["key"], "[protected]");
    hung.release();
  }
}

TEST_F(RecordingStreamTest, NothingOfARecordingIsWrittenAfterItsStop) {
  start({{"recordingId", "r"}});
  for (int i = 0; i < 200; ++i) deliver(keyPress(36));
  stop();
  const size_t atStop = out.now().size();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(out.now().size(), atStop);
  for (size_t i = 0; i < atStop; ++i) EXPECT_EQ(out.now()[i]["sequence"], int(i + 1));
}

}  // namespace
}  // namespace tavren
