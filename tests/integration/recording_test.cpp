// Recording the user's own input on the real desktop: XTest clicks, keys and scrolls on GTK 3
// and Qt 5 windows come back as "recordingAction" lines with their names, modifiers, elements
// and sequence; a restart replaces the recording and a stop ends it at once; nothing typed into
// a password field leaves the service; a stopped application under the pointer does not hold
// the lines after its own.
#include <signal.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <thread>

#include "platform/linux/x11/x_link.h"
#include "support/desktop_fixture.h"
#include "support/x_window_probe.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::call;
using testing::DesktopEnvironment;
using testing::XWindowProbe;

// Input as from the devices, through XTest on a connection of the test's own.
class Devices {
 public:
  explicit Devices(const std::string& display) : link_(x11::XLink::connect(display)) {
    c_ = link_->get();
    const xcb_setup_t* s = xcb_get_setup(c_);
    min_ = s->min_keycode;
    auto r = link_->reply(xcb_get_keyboard_mapping_reply,
                          xcb_get_keyboard_mapping(c_, s->min_keycode,
                                                   s->max_keycode - s->min_keycode + 1));
    per_ = r->keysyms_per_keycode;
    const xcb_keysym_t* k = xcb_get_keyboard_mapping_keysyms(r.get());
    keysyms_.assign(k, k + xcb_get_keyboard_mapping_keysyms_length(r.get()));
  }
  uint8_t keycode(uint32_t keysym) const {
    for (size_t i = 0; i < keysyms_.size(); ++i) {
      if (keysyms_[i] == keysym) return static_cast<uint8_t>(min_ + i / per_);
    }
    return 0;
  }
  void move(int x, int y) { fake(XCB_MOTION_NOTIFY, 0, x, y); }
  void click(uint8_t button) {
    fake(XCB_BUTTON_PRESS, button);
    fake(XCB_BUTTON_RELEASE, button);
  }
  void down(uint32_t keysym) { fake(XCB_KEY_PRESS, keycode(keysym)); }
  void up(uint32_t keysym) { fake(XCB_KEY_RELEASE, keycode(keysym)); }
  void tap(uint32_t keysym) {
    down(keysym);
    up(keysym);
  }
  void sync() { link_->sync(); }

 private:
  void fake(uint8_t type, uint8_t detail, int x = 0, int y = 0) {
    xcb_test_fake_input(c_, type, detail, XCB_CURRENT_TIME, link_->root(), x, y, 0);
    link_->sync();
  }
  std::unique_ptr<x11::XLink> link_;
  xcb_connection_t* c_;
  int min_ = 8, per_ = 1;
  std::vector<uint32_t> keysyms_;
};

// The "recordingAction" lines the service wrote, read as they come.
class Recorded {
 public:
  explicit Recorded(ServiceProcess& service) : service_(service) {}
  // Every line up to now, waiting until there are `count` or the limit passes.
  const std::vector<Json>& atLeast(size_t count, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      take();
      if (events_.size() >= count || std::chrono::steady_clock::now() > deadline) break;
      if (auto line = service_.readLine(50ms)) add(*line);
    }
    return events_;
  }
  // Every line within `quiet`, for proving that none comes.
  const std::vector<Json>& after(std::chrono::milliseconds quiet) {
    const auto deadline = std::chrono::steady_clock::now() + quiet;
    while (std::chrono::steady_clock::now() < deadline) {
      if (auto line = service_.readLine(20ms)) add(*line);
    }
    take();
    return events_;
  }
  std::vector<std::string> raw() const { return raw_; }

 private:
  void take() {
    size_t seen = 0;
    for (const std::string& line : service_.otherLines()) {
      if (line.find("\"recordingAction\"") == std::string::npos) continue;
      if (seen++ >= fromOthers_) {
        add(line);
        ++fromOthers_;
      }
    }
  }
  void add(const std::string& line) {
    raw_.push_back(line);
    Json v = Json::parse(line, nullptr, false);
    if (v.is_object() && v.value("event", "") == "recordingAction") events_.push_back(v);
  }
  ServiceProcess& service_;
  size_t fromOthers_ = 0;
  std::vector<Json> events_;
  std::vector<std::string> raw_;
};

class Launched {
 public:
  ~Launched() {
    for (pid_t pid : pids_) {
      kill(pid, SIGCONT);
      kill(pid, SIGKILL);
    }
  }
  pid_t start(const std::vector<std::string>& argv, const std::string& title,
              const std::map<std::string, std::string>& env = {}) {
    std::string error;
    pid_t pid = DesktopEnvironment::desktop().launch(argv, &error);
    EXPECT_GT(pid, 0) << error;
    if (pid <= 0) return pid;
    pids_.push_back(pid);
    EXPECT_TRUE(DesktopEnvironment::desktop().waitForWindow(pid, title, 30s)) << title;
    return pid;
  }

 private:
  std::vector<pid_t> pids_;
};

class RecordingTest : public ::testing::Test {
 protected:
  RecordingTest()
      : devices(DesktopEnvironment::desktop().display()),
        probe(DesktopEnvironment::desktop().display()) {}

  // Starts the application and makes its window the active one, its frame in `frame`.
  pid_t front(const std::vector<std::string>& argv, const std::string& title,
              XWindowProbe::Frame* frame) {
    const pid_t pid = apps.start(argv, title);
    std::optional<xcb_window_t> window = probe.clientOf(pid);
    EXPECT_TRUE(window);
    if (!window) return pid;
    probe.activate(*window);
    EXPECT_TRUE(probe.waitUntil([&] { return probe.activeWindow() == *window; }, 10s));
    if (auto f = probe.frame(*window)) *frame = *f;
    return pid;
  }
  // Waits until the application answers accessibility: its tree has rows.
  void registered(ServiceProcess& service, pid_t pid) {
    for (int i = 0; i < 100; ++i) {
      Json r = call(service, "reg" + std::to_string(i), "axTree",
                    "{\"pid\":" + std::to_string(pid) + ",\"maxElements\":5}");
      if (r["ok"] == true && r["result"]["elements"].size() >= 2) return;
      std::this_thread::sleep_for(100ms);
    }
  }
  Json start(ServiceProcess& service, const std::string& id) {
    return call(service, "start-" + id, "startRecording", "{\"recordingId\":\"" + id + "\"}");
  }

  Devices devices;
  XWindowProbe probe;
  Launched apps;
};

const std::string kLoginForm = std::string(TAVREN_BIN_DIR) + "/tavren-fixture-login-form";
const std::string kQtRichText =
    "/usr/lib/x86_64-linux-gnu/qt5/examples/widgets/richtext/textedit/textedit";

TEST_F(RecordingTest, ClicksKeysAndScrollsOnGtkComeBackInOrder) {
  XWindowProbe::Frame frame{};
  const pid_t pid = front({kLoginForm, "unused-secret"}, "Tavren Login", &frame);
  auto service = DesktopEnvironment::startService();
  registered(*service, pid);
  Recorded recorded(*service);
  Json started = start(*service, "gtk");
  ASSERT_EQ(started["result"], (Json{{"recordingId", "gtk"}, {"recording", true}})) << started;

  const int x = frame.x + frame.w / 2, y = frame.y + 20;
  // Each input once the line of the one before is out, as a person's input comes.
  devices.move(x, y);
  devices.click(1);
  recorded.atLeast(1);
  devices.click(5);
  recorded.atLeast(2);
  devices.down(XK_Control_L);
  devices.down(XK_Shift_L);
  devices.tap(XK_a);
  devices.up(XK_Shift_L);
  devices.up(XK_Control_L);
  recorded.atLeast(3);
  devices.tap(XK_1);
  recorded.atLeast(4);
  devices.tap(XK_Escape);
  recorded.atLeast(5);
  devices.click(3);
  recorded.atLeast(6);
  devices.tap(XK_Escape);  // the context menu goes away
  std::vector<Json> lines = recorded.atLeast(7);
  ASSERT_EQ(lines.size(), 7u);
  const std::vector<std::string> kinds = {"click", "scroll", "key", "text-input",
                                          "key",   "right-click", "key"};
  for (size_t i = 0; i < lines.size(); ++i) {
    const Json& line = lines[i];
    EXPECT_EQ(line["sequence"], i + 1) << line;
    EXPECT_EQ(line["recordingId"], "gtk");
    EXPECT_EQ(line["kind"], kinds[i]) << line;
    EXPECT_EQ(line["pid"], pid) << line;
    EXPECT_FALSE(line["appId"].get<std::string>().empty());
    EXPECT_FALSE(line.contains("id"));
    EXPECT_FALSE(line.contains("ok"));
  }
  EXPECT_EQ(lines[0]["x"], x);
  EXPECT_EQ(lines[0]["y"], y);
  EXPECT_EQ(lines[0]["role"], "AXTextField") << lines[0];
  EXPECT_EQ(lines[0]["label"], "User name") << lines[0];
  EXPECT_EQ(lines[0]["sensitive"], false);
  EXPECT_EQ(lines[1]["deltaY"], -1.0);
  EXPECT_EQ(lines[2]["key"], "a");
  EXPECT_EQ(lines[2]["modifiers"], (Json{"ctrl", "shift"}));
  EXPECT_EQ(lines[3]["key"], "key-18");
  EXPECT_EQ(lines[4]["key"], "escape");
  EXPECT_TRUE(lines[2].contains("role")) << lines[2];  // the focused element

  Json stopped = call(*service, "stop", "stopRecording");
  EXPECT_EQ(stopped["result"], (Json{{"recordingId", "gtk"}, {"recording", false},
                                     {"eventCount", 7}}));
  devices.tap(XK_Escape);
  EXPECT_EQ(recorded.after(500ms).size(), 7u) << "a line after the stop";
}

TEST_F(RecordingTest, NothingTypedIntoAPasswordFieldLeaves) {
  XWindowProbe::Frame frame{};
  const pid_t pid = front({kLoginForm, "old-secret"}, "Tavren Login", &frame);
  auto service = DesktopEnvironment::startService();
  registered(*service, pid);
  Recorded recorded(*service);
  start(*service, "pw");
  // The form opens with the user name focused; the password field is next.
  // Typed as a person types: each key once the line of the one before is out.
  devices.tap(XK_Tab);
  recorded.atLeast(1);
  const std::string secret = "zebraquix";
  for (size_t i = 0; i < secret.size(); ++i) {
    devices.tap(static_cast<uint32_t>(secret[i]));
    recorded.atLeast(i + 2);
  }
  devices.tap(XK_Return);
  std::vector<Json> lines = recorded.atLeast(secret.size() + 2);
  ASSERT_EQ(lines.size(), secret.size() + 2);
  EXPECT_EQ(lines[0].value("key", ""), "tab") << lines[0];
  // A key whose element lookup lost the race with the application (it may not have moved the
  // focus yet when asked) comes without an element, its letter withheld all the same.
  size_t withElement = 0;
  for (size_t i = 1; i <= secret.size(); ++i) {
    EXPECT_EQ(lines[i].value("key", ""), "[protected]") << lines[i];
    if (!lines[i].contains("role")) continue;
    ++withElement;
    EXPECT_EQ(lines[i].value("sensitive", false), true) << lines[i];
    EXPECT_EQ(lines[i].value("label", ""), "Password") << lines[i];
  }
  EXPECT_GE(withElement, secret.size() / 2) << "the password field was rarely named";
  EXPECT_EQ(lines.back().value("key", ""), "return");
  for (const std::string& line : recorded.raw()) {
    EXPECT_EQ(line.find(secret), std::string::npos) << line;
    EXPECT_EQ(line.find("old-secret"), std::string::npos) << line;
  }
}

TEST_F(RecordingTest, RestartReplacesTheRecording) {
  XWindowProbe::Frame frame{};
  const pid_t pid = front({kLoginForm, "x"}, "Tavren Login", &frame);
  auto service = DesktopEnvironment::startService();
  registered(*service, pid);
  Recorded recorded(*service);
  start(*service, "first");
  devices.tap(XK_Escape);
  devices.tap(XK_Escape);
  recorded.atLeast(2);
  start(*service, "second");
  devices.tap(XK_Escape);
  std::vector<Json> lines = recorded.atLeast(3);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2]["recordingId"], "second");
  EXPECT_EQ(lines[2]["sequence"], 1);
  Json stopped = call(*service, "stop", "stopRecording");
  EXPECT_EQ(stopped["result"]["recordingId"], "second");
  EXPECT_EQ(stopped["result"]["eventCount"], 1);
  Json again = call(*service, "stop2", "stopRecording");
  EXPECT_EQ(again["result"], (Json{{"recordingId", ""}, {"recording", false}, {"eventCount", 0}}));
  Json missing = call(*service, "bad", "startRecording", "{\"recordingId\":\"\"}");
  EXPECT_EQ(missing["error"], "Missing recording id");
}

TEST_F(RecordingTest, AStoppedApplicationUnderThePointerHoldsNoLineBehindIt) {
  XWindowProbe::Frame stuckFrame{};
  const pid_t stuck = front({kLoginForm, "x"}, "Tavren Login", &stuckFrame);
  XWindowProbe::Frame frame{};
  auto service = DesktopEnvironment::startService();
  registered(*service, stuck);
  const pid_t pid = front({kQtRichText}, "Rich Text", &frame);
  registered(*service, pid);
  // The Qt window is active; the stopped one is only under the pointer, where it shows.
  std::optional<xcb_window_t> stuckWindow = probe.clientOf(stuck);
  ASSERT_TRUE(stuckWindow);
  probe.moveResize(*stuckWindow, {0, 0, 300, 200});
  probe.moveResize(*probe.clientOf(pid), {400, 0, 700, 500});
  std::this_thread::sleep_for(300ms);  // the window manager places them
  Recorded recorded(*service);
  start(*service, "stuck");
  kill(stuck, SIGSTOP);
  devices.move(150, 60);
  devices.click(4);  // a wheel over the stopped application: no focus change
  devices.move(700, 300);
  devices.click(4);
  devices.tap(XK_Escape);
  std::vector<Json> lines = recorded.atLeast(3);
  kill(stuck, SIGCONT);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0]["kind"], "scroll");
  EXPECT_FALSE(lines[0].contains("role")) << lines[0];
  EXPECT_EQ(lines[1]["kind"], "scroll");
  EXPECT_TRUE(lines[1].contains("role")) << lines[1];  // Qt answers
  EXPECT_EQ(lines[2]["key"], "escape");
  EXPECT_EQ(lines[2]["pid"], pid);
}

}  // namespace
}  // namespace tavren
