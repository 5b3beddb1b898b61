// Background input on the real desktop: events sent to a window that another window covers
// reach it, while the cover stays on top, the active window stays active and the real pointer
// stays where it was. The GTK fixture reports what it received in a file; the Qt example is read
// back through the service's own accessibility tree.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

#include "support/desktop_fixture.h"
#include "support/x_window_probe.h"
#include "platform/linux/x11/x_link.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::readReport;
using testing::call;
using testing::DesktopEnvironment;
using Frame = testing::XWindowProbe::Frame;

constexpr auto kSettle = 10s;

// What the X server says about the pointer, the active window and the stacking order.
class XState {
 public:
  explicit XState(const std::string& display) : link_(x11::XLink::connect(display)) {
    c_ = link_->get();
    root_ = link_->root();
  }

  std::pair<int, int> pointer() {
    auto r = link_->reply(xcb_query_pointer_reply, xcb_query_pointer(c_, root_));
    return r ? std::pair<int, int>{r->root_x, r->root_y} : std::pair<int, int>{-1, -1};
  }
  void warpPointer(int x, int y) {
    xcb_warp_pointer(c_, XCB_NONE, root_, 0, 0, 0, 0, int16_t(x), int16_t(y));
    link_->sync();
  }
  // Client windows bottom to top.
  std::vector<uint32_t> stacking() { return words("_NET_CLIENT_LIST_STACKING"); }
  uint32_t active() {
    auto w = words("_NET_ACTIVE_WINDOW");
    return w.empty() ? 0 : w[0];
  }
  // True when `upper` is stacked above `lower`.
  bool above(uint32_t upper, uint32_t lower) {
    auto s = stacking();
    auto u = std::find(s.begin(), s.end(), upper), l = std::find(s.begin(), s.end(), lower);
    return u != s.end() && l != s.end() && u > l;
  }

 private:
  std::vector<uint32_t> words(const char* name) {
    const xcb_atom_t atom = link_->internAtom(name);
    if (atom == XCB_ATOM_NONE) return {};
    auto r = link_->reply(xcb_get_property_reply,
                          xcb_get_property(c_, 0, root_, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096));
    if (!r || r->format != 32) return {};
    auto* d = static_cast<uint32_t*>(xcb_get_property_value(r.get()));
    return {d, d + xcb_get_property_value_length(r.get()) / 4};
  }
  std::unique_ptr<x11::XLink> link_;
  xcb_connection_t* c_;
  xcb_window_t root_;
};

// A program on the shared desktop, ended with the test.
struct Launched {
  explicit Launched(std::vector<std::string> argv, const std::string& title) {
    std::string error;
    pid = DesktopEnvironment::desktop().launch(argv, &error);
    EXPECT_GT(pid, 0) << error;
    window = DesktopEnvironment::desktop().clientWindow(pid, title, 30s).value_or(0);
    EXPECT_NE(window, 0u) << title;
  }
  ~Launched() {
    if (pid > 0) kill(pid, SIGTERM);
  }
  pid_t pid = -1;
  uint32_t window = 0;
};

class BackgroundInput : public ::testing::Test {
 protected:
  BackgroundInput()
      : report("/tmp/tavren-input-probe-" + std::to_string(getpid()) + ".txt"),
        x(DesktopEnvironment::desktop().display()),
        wm(DesktopEnvironment::desktop().display()),
        probe({std::string(TAVREN_BIN_DIR) + "/tavren-fixture-input-probe", "--report", report},
              "Tavren input probe"),
        cover({std::string(TAVREN_BIN_DIR) + "/tavren-fixture-titled-window", "--title",
               "Tavren cover", "--size", "500x500"},
              "Tavren cover") {}

  void SetUp() override {
    ASSERT_TRUE(probe.window && cover.window);
    ASSERT_TRUE(wm.connected());
    wm.clientOf(probe.pid);
    wm.clientOf(cover.pid);
    wm.moveResize(probe.window, {300, 200, 320, 330});
    wm.moveResize(cover.window, {250, 150, 500, 500});
    ASSERT_TRUE(wm.waitUntil([&] { return wm.frame(probe.window) == Frame{300, 200, 320, 330}; },
                             kSettle));
    ASSERT_TRUE(wm.waitUntil([&] { return wm.frame(cover.window) == Frame{250, 150, 500, 500}; },
                             kSettle));
    ASSERT_TRUE(waitFor("clicks", "0"));
    ASSERT_TRUE(x.above(cover.window, probe.window)) << "the probe is not covered";
    x.warpPointer(5, 5);
  }
  void TearDown() override {
    // Neither raised nor focused, and the real pointer never moved.
    EXPECT_TRUE(x.above(cover.window, probe.window));
    EXPECT_NE(x.active(), probe.window);
    EXPECT_EQ(x.pointer(), (std::pair<int, int>{5, 5}));
    unlink(report.c_str());
    service->closeInput();
    EXPECT_EQ(service->wait(10s), 0);
    EXPECT_EQ(service->errorOutput(), "");
  }

  // The answer to one request, which must succeed.
  Json post(const std::string& method, Json params) {
    params["pid"] = probe.pid;
    Json r = call(*service, "i", method, params.dump());
    EXPECT_EQ(r["ok"], true) << method << " " << r;
    return r["result"];
  }
  // A click at a point of the probe's client area.
  Json click(int x, int y, int count = 1, const std::string& kind = "click") {
    return post("postMouse", {{"kind", kind}, {"x", 300 + x}, {"y", 200 + y},
                              {"clickCount", count}, {"windowId", probe.window}});
  }
  Json key(int code, uint64_t flags = 0) {
    return post("postKey", {{"keyCode", code}, {"flags", flags}});
  }
  bool waitFor(const std::string& name, const std::string& value) {
    const auto deadline = std::chrono::steady_clock::now() + kSettle;
    while (std::chrono::steady_clock::now() < deadline) {
      if (readReport(report)[name] == value) return true;
      std::this_thread::sleep_for(10ms);
    }
    ADD_FAILURE() << name << " is \"" << readReport(report)[name] << "\", not \"" << value << "\"";
    return false;
  }

  std::string report;
  XState x;
  testing::XWindowProbe wm;
  Launched probe, cover;
  std::unique_ptr<ServiceProcess> service = DesktopEnvironment::startService();
};

TEST_F(BackgroundInput, ClickReachesACoveredButtonWithATruthfulReceipt) {
  Json receipt = click(70, 30);
  EXPECT_TRUE(waitFor("clicks", "1"));
  EXPECT_EQ(receipt["posted"], true);
  EXPECT_EQ(receipt["windowAddressed"], true);
  EXPECT_EQ(receipt["targetAlive"], true);
  EXPECT_EQ(receipt["frontmostUnchanged"], true);
  EXPECT_EQ(receipt["cursorUnchanged"], true);
  EXPECT_EQ(receipt["after"]["cursorX"], 5);
  EXPECT_EQ(receipt["after"]["frontmostPid"], cover.pid);
  // The front application is named as "frontmostApp" names it, before and after alike (the
  // cover has no desktop entry: its name comes from its accessible root).
  const Json front = call(*service, "f", "frontmostApp", "{}")["result"];
  ASSERT_EQ(front["pid"], cover.pid);
  const std::string frontId = front["bundleId"] != "" ? front["bundleId"] : front["name"];
  EXPECT_NE(frontId, "");
  EXPECT_EQ(receipt["before"]["frontmostId"], frontId);
  EXPECT_EQ(receipt["after"]["frontmostId"], frontId);
  // Unaddressed: the process's window under the point all the same.
  post("postMouse", {{"x", 370}, {"y", 230}});
  EXPECT_TRUE(waitFor("clicks", "2"));
}

TEST_F(BackgroundInput, ClickCountsButtonsAndSeparateRequests) {
  click(200, 30, 2);
  EXPECT_TRUE(waitFor("presses", "1:1,1:1,1:2"));
  click(200, 30, 3);
  // GDK reports each press, and the double and triple press after the second and third.
  EXPECT_TRUE(waitFor("presses", "1:1,1:1,1:2,1:1,1:1,1:2,1:1,1:3"));
  // Two single clicks in quick succession stay two single clicks.
  click(200, 30, 1, "right_click");
  click(200, 30, 1, "right_click");
  click(200, 30, 1, "middle_click");
  EXPECT_TRUE(waitFor("presses", "1:1,1:1,1:2,1:1,1:1,1:2,1:1,1:3,3:1,3:1,2:1"));
  // A double click selects a word, a triple click a line.
  click(60, 110, 2);
  EXPECT_TRUE(waitFor("selection", "beta"));
  click(60, 110, 3);
  EXPECT_TRUE(waitFor("selection", "alpha beta gamma"));
}

TEST_F(BackgroundInput, KeysWithModifiersTypeIntoACoveredEntry) {
  click(150, 75);  // the entry takes the window's focus
  // "Hi 5!" key by key: shift+h, i, space, 5, shift+1.
  const uint64_t shift = 0x20000, control = 0x40000;
  for (auto [code, flags] : std::vector<std::pair<int, uint64_t>>{
           {0x04, shift}, {0x22, 0}, {0x31, 0}, {0x17, 0}, {0x12, shift}}) {
    Json receipt = key(code, flags);
    EXPECT_FALSE(receipt.contains("windowAddressed"));
  }
  EXPECT_TRUE(waitFor("entry", "Hi 5!"));
  EXPECT_TRUE(waitFor("keys", "exclam+shift"));
  // Select all, copy, go to the end, paste.
  key(0x00, control);
  key(0x08, control);
  key(0x7C);
  key(0x09, control);
  EXPECT_TRUE(waitFor("entry", "Hi 5!Hi 5!"));
  key(0x33);  // backspace
  EXPECT_TRUE(waitFor("entry", "Hi 5!Hi 5"));
}

// Modifiers that type nothing in an entry still reach its key handler with their state.
TEST_F(BackgroundInput, AltAndControlHeldReachTheFocusedEntry) {
  click(150, 75);
  key(0x13, 0x80000);
  EXPECT_TRUE(waitFor("keys", "2+alt"));
  key(0x13, 0x40000);
  EXPECT_TRUE(waitFor("keys", "2+control"));
  EXPECT_TRUE(waitFor("entry", ""));
}

TEST_F(BackgroundInput, ScrollAndDragMoveTheirWidgets) {
  Json receipt = post("postScroll", {{"x", 300 + 150}, {"y", 200 + 220}, {"dy", -3},
                                     {"windowId", probe.window}});
  EXPECT_EQ(receipt["windowAddressed"], true);
  EXPECT_EQ(receipt["delivery"], "wheel");
  EXPECT_EQ(receipt["posted"], true);
  const auto deadline = std::chrono::steady_clock::now() + kSettle;
  while (readReport(report)["scroll"] == "0" && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_NE(readReport(report)["scroll"], "0");

  post("postMouse", {{"kind", "drag"}, {"x", 300 + 20}, {"y", 200 + 300}, {"toX", 300 + 160},
                     {"toY", 200 + 300}, {"windowId", probe.window}});
  const std::string value = readReport(report)["slider"];
  EXPECT_TRUE(waitFor("slider", value));
  EXPECT_GT(std::stoi(readReport(report)["slider"]), 30);
}

TEST_F(BackgroundInput, TheGuardRefusesAMovedWindowBeforeAnythingIsSent) {
  Json params = {{"kind", "click"}, {"x", 370}, {"y", 230}, {"windowId", probe.window},
                 {"expectedWindow", {{"windowId", probe.window}, {"pid", probe.pid}, {"x", 301},
                                     {"y", 200}, {"w", 320}, {"h", 330}}}};
  EXPECT_EQ(post("postMouse", params),
            (Json{{"status", "stale-window"}, {"posted", false}, {"windowChanged", true}}));
  params["expectedWindow"]["x"] = 300;
  EXPECT_EQ(post("postMouse", params)["posted"], true);
  EXPECT_TRUE(waitFor("clicks", "1"));  // only the second one
}

// Places a Qt example at `frame` under a window of our own at `coverFrame`, the pointer away
// from both; true once the window manager has placed them so.
bool placeUnderCover(XState& x, const Launched& qt, Frame frame, const Launched& cover,
                     Frame coverFrame) {
  testing::XWindowProbe wm(DesktopEnvironment::desktop().display());
  wm.clientOf(qt.pid);
  wm.clientOf(cover.pid);
  wm.moveResize(qt.window, frame);
  wm.moveResize(cover.window, coverFrame);
  if (!wm.waitUntil([&] { return wm.frame(qt.window) == frame; }, kSettle) ||
      !wm.waitUntil([&] { return wm.frame(cover.window) == coverFrame; }, kSettle) ||
      !x.above(cover.window, qt.window)) {
    return false;
  }
  x.warpPointer(5, 5);
  return true;
}

// Qt 5 asks the window manager to activate a window pressed while it is not its focus window;
// the click lends it focus for the press, so the covered window stays covered and inactive.
// Clicks, keys and double clicks reach it; wheel buttons do not (it expects XI2 scrolling), so
// scrolling goes through its scroll bars (below).
TEST(BackgroundInputQt, ClickAndKeysLeaveACoveredQtWindowWhereItIs) {
  XState x(DesktopEnvironment::desktop().display());
  Launched qt({"/usr/lib/x86_64-linux-gnu/qt5/examples/widgets/widgets/lineedits/lineedits"},
              "Line Edits");
  Launched cover({std::string(TAVREN_BIN_DIR) + "/tavren-fixture-titled-window", "--title",
                  "Tavren Qt cover", "--size", "700x600"},
                 "Tavren Qt cover");
  ASSERT_TRUE(qt.window && cover.window);
  ASSERT_TRUE(placeUnderCover(x, qt, {300, 200, 452, 334}, cover, {250, 150, 700, 600}));
  auto service = DesktopEnvironment::startService();
  const uint32_t active = x.active();

  // The line edit of the "Echo" group, then two keys.
  Json click = call(*service, "c", "postMouse",
                    Json{{"pid", qt.pid}, {"x", 300 + 113}, {"y", 200 + 86}, {"windowId", qt.window}}
                        .dump());
  ASSERT_EQ(click["ok"], true) << click;
  EXPECT_EQ(click["result"]["frontmostUnchanged"], true);
  for (int code : {0x00, 0x0B}) {
    Json key = call(*service, "k", "postKey", Json{{"pid", qt.pid}, {"keyCode", code}}.dump());
    ASSERT_EQ(key["ok"], true) << key;
    EXPECT_EQ(key["result"]["frontmostUnchanged"], true);
  }
  // The line edit's text as its accessible value: "ab", then a double click selects the word
  // and a typed "x" replaces it.
  auto lineEditHolds = [&](const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + kSettle;
    while (std::chrono::steady_clock::now() < deadline) {
      Json tree = call(*service, "t", "axTree",
                       Json{{"pid", qt.pid}, {"maxElements", 60}, {"maxDepth", 12}}.dump());
      for (const Json& row : tree["result"]["elements"]) {
        if (row["role"] == "AXTextField" && row.value("value", "") == text) return true;
      }
      std::this_thread::sleep_for(50ms);
    }
    return false;
  };
  EXPECT_TRUE(lineEditHolds("ab"));
  Json twice = call(*service, "d", "postMouse",
                    Json{{"pid", qt.pid}, {"x", 300 + 33}, {"y", 200 + 86}, {"clickCount", 2},
                         {"windowId", qt.window}}
                        .dump());
  ASSERT_EQ(twice["ok"], true) << twice;
  EXPECT_EQ(twice["result"]["frontmostUnchanged"], true);
  call(*service, "x", "postKey", Json{{"pid", qt.pid}, {"keyCode", 0x07}}.dump());
  EXPECT_TRUE(lineEditHolds("x"));

  EXPECT_TRUE(x.above(cover.window, qt.window));
  EXPECT_EQ(x.active(), active);
  EXPECT_EQ(x.pointer(), (std::pair<int, int>{5, 5}));
  service->closeInput();
  EXPECT_EQ(service->wait(10s), 0);
  EXPECT_EQ(service->errorOutput(), "");
}

// Qt ignores synthetic wheel presses: a scroll over a covered text edit sets its vertical scroll
// bar through accessibility instead, three single steps a click, and the window stays covered
// and inactive. Where nothing scrolls (the menu bar) the receipt does not claim it posted.
TEST(BackgroundInputQt, ScrollMovesACoveredTextEditThroughItsScrollBar) {
  XState x(DesktopEnvironment::desktop().display());
  Launched qt({"/usr/lib/x86_64-linux-gnu/qt5/examples/widgets/richtext/textedit/textedit"},
              "example.html - Rich Text");
  Launched cover({std::string(TAVREN_BIN_DIR) + "/tavren-fixture-titled-window", "--title",
                  "Tavren text cover", "--size", "800x700"},
                 "Tavren text cover");
  ASSERT_TRUE(qt.window && cover.window);
  ASSERT_TRUE(placeUnderCover(x, qt, {300, 200, 600, 500}, cover, {250, 150, 800, 700}));
  auto service = DesktopEnvironment::startService();
  const uint32_t active = x.active();

  // The vertical scroll bar's value, as the tree shows it; -1 until it shows.
  auto verticalBar = [&] {
    Json tree = call(*service, "t", "axTree",
                     Json{{"pid", qt.pid}, {"maxElements", 200}, {"maxDepth", 12}}.dump());
    for (const Json& row : tree["result"]["elements"]) {
      if (row["role"] == "AXScrollBar" && row.value("h", 0) > row.value("w", 0)) {
        return std::stod(row.value("value", "-1"));
      }
    }
    return -1.0;
  };
  double before = -1;
  const auto shown = std::chrono::steady_clock::now() + kSettle;
  while ((before = verticalBar()) < 0 && std::chrono::steady_clock::now() < shown) {
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_EQ(before, 0);

  auto scroll = [&](int x, int y, int dy) {
    Json r = call(*service, "s", "postScroll",
                  Json{{"pid", qt.pid}, {"x", 300 + x}, {"y", 200 + y}, {"dy", dy},
                       {"windowId", qt.window}}
                      .dump());
    EXPECT_EQ(r["ok"], true) << r;
    return r["result"];
  };
  Json down = scroll(300, 300, -3);
  EXPECT_EQ(down["delivery"], "accessibility");
  EXPECT_EQ(down["posted"], true);
  EXPECT_EQ(down["frontmostUnchanged"], true);
  EXPECT_EQ(down["cursorUnchanged"], true);
  const double after = verticalBar();
  EXPECT_GT(after, 0);
  // Back up one click: a third of the way back.
  EXPECT_EQ(scroll(300, 300, 1)["delivery"], "accessibility");
  EXPECT_DOUBLE_EQ(verticalBar(), after * 2 / 3);

  Json menu = scroll(300, 10, -3);
  EXPECT_EQ(menu["delivery"], "ignored");
  EXPECT_EQ(menu["posted"], false);
  EXPECT_DOUBLE_EQ(verticalBar(), after * 2 / 3);

  EXPECT_TRUE(x.above(cover.window, qt.window));
  EXPECT_EQ(x.active(), active);
  EXPECT_EQ(x.pointer(), (std::pair<int, int>{5, 5}));
  service->closeInput();
  EXPECT_EQ(service->wait(10s), 0);
  EXPECT_EQ(service->errorOutput(), "");
}

// A drag moves a covered Qt slider; the window stays covered and inactive.
TEST(BackgroundInputQt, DragMovesACoveredSlider) {
  XState x(DesktopEnvironment::desktop().display());
  Launched qt({"/usr/lib/x86_64-linux-gnu/qt5/examples/widgets/widgets/sliders/sliders"},
              "Sliders");
  ASSERT_TRUE(qt.window);
  auto service = DesktopEnvironment::startService();
  // The first slider as the accessibility tree places it, and its value.
  auto slider = [&] {
    Json tree = call(*service, "t", "axTree",
                     Json{{"pid", qt.pid}, {"maxElements", 80}, {"maxDepth", 12}}.dump());
    for (const Json& row : tree["result"]["elements"]) {
      if (row["role"] == "AXSlider" && row["w"].get<int>() > row["h"].get<int>()) return row;
    }
    return Json();
  };
  Json before;
  const auto deadline = std::chrono::steady_clock::now() + kSettle;
  while ((before = slider()).is_null() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_FALSE(before.is_null());
  Launched cover({std::string(TAVREN_BIN_DIR) + "/tavren-fixture-titled-window", "--title",
                  "Tavren slider cover", "--size", "1900x1000"},
                 "Tavren slider cover");
  ASSERT_TRUE(cover.window);
  // The cover is active before anything is posted.
  const auto shown = std::chrono::steady_clock::now() + kSettle;
  while (x.active() != cover.window && std::chrono::steady_clock::now() < shown) {
    std::this_thread::sleep_for(20ms);
  }
  ASSERT_EQ(x.active(), cover.window);
  x.warpPointer(5, 5);
  const uint32_t active = x.active();
  const int left = before["x"].get<int>(), width = before["w"].get<int>();
  const int y = before["y"].get<int>() + before["h"].get<int>() / 2;
  const int from = std::stoi(before["value"].get<std::string>());
  // From the knob (at the value's share of the groove) to near the end.
  Json drag = call(*service, "d", "postMouse",
                   Json{{"pid", qt.pid}, {"kind", "drag"}, {"x", left + width * from / 20},
                        {"y", y}, {"toX", left + width * 9 / 10}, {"toY", y},
                        {"windowId", qt.window}}
                       .dump());
  ASSERT_EQ(drag["ok"], true) << drag;
  EXPECT_EQ(drag["result"]["frontmostUnchanged"], true);
  int to = from;
  const auto settled = std::chrono::steady_clock::now() + kSettle;
  auto valueNow = [&] {
    Json now = slider();
    return now.is_object() ? std::stoi(now.value("value", "0")) : from;
  };
  while ((to = valueNow()) <= from + 5 && std::chrono::steady_clock::now() < settled) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_GT(to, from + 5) << before;
  EXPECT_TRUE(x.above(cover.window, qt.window));
  EXPECT_EQ(x.active(), active);
  EXPECT_EQ(x.pointer(), (std::pair<int, int>{5, 5}));
  service->closeInput();
  EXPECT_EQ(service->wait(10s), 0);
  EXPECT_EQ(service->errorOutput(), "");
}

}  // namespace
}  // namespace tavren
