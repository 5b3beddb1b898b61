// Both views of an application's windows, the catalog and the window guard on the real desktop,
// checked against what the X server itself says after the window manager moved, resized,
// minimized and restored a window.
#include <signal.h>

#include <gtest/gtest.h>

#include "support/desktop_fixture.h"
#include "support/x_window_probe.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::call;
using testing::DesktopEnvironment;
using Frame = testing::XWindowProbe::Frame;

constexpr auto kSettle = 10s;  // bound on waiting for the window manager or an application

// A fixture window on the shared desktop, ended when the test ends.
struct ProbeWindow {
  ProbeWindow(const std::string& title, const std::string& size) : title(title) {
    std::string error;
    pid = DesktopEnvironment::desktop().launch(
        {std::string(TAVREN_BIN_DIR) + "/tavren-fixture-titled-window", "--title", title,
         "--size", size},
        &error);
    EXPECT_GT(pid, 0) << error;
    EXPECT_TRUE(DesktopEnvironment::desktop().waitForWindow(pid, title, 30s)) << title;
  }
  ~ProbeWindow() { end(); }
  void end() {
    if (pid > 0) kill(pid, SIGTERM);
    pid = -1;
  }

  std::string title;
  pid_t pid = -1;
};

class WindowsTest : public ::testing::Test {
 protected:
  WindowsTest() : x(DesktopEnvironment::desktop().display()) {}
  void SetUp() override { ASSERT_TRUE(x.connected()); }
  void TearDown() override {
    if (!service) return;
    service->closeInput();
    EXPECT_EQ(service->wait(10s), 0);
    EXPECT_EQ(service->errorOutput(), "");
  }

  xcb_window_t clientOf(const ProbeWindow& probe) {
    auto window = x.clientOf(probe.pid);
    EXPECT_TRUE(window) << probe.title;
    return window.value_or(XCB_WINDOW_NONE);
  }
  Json result(const std::string& method, const Json& params = Json::object()) {
    Json r = call(*service, "r", method, params.dump());
    EXPECT_EQ(r["ok"], true) << method << " " << r;
    return r["result"];
  }
  static const Json* withId(const Json& windows, xcb_window_t id) {
    for (const Json& w : windows) {
      if (w["id"] == id) return &w;
    }
    return nullptr;
  }
  static Frame frameOf(const Json& record) {
    return {record["x"].get<int>(), record["y"].get<int>(), record["w"].get<int>(),
            record["h"].get<int>()};
  }
  // What a guarded request answers when the host observed `frame` of the window.
  Json guardedAnswer(pid_t pid, xcb_window_t window, Frame frame) {
    Json params = {{"pid", pid}, {"x", frame.x + 5}, {"y", frame.y + 5}, {"dx", 0}, {"dy", 0},
                   {"expectedWindow", {{"windowId", window}, {"pid", pid}, {"x", frame.x},
                                       {"y", frame.y}, {"w", frame.w}, {"h", frame.h}}}};
    return call(*service, "g", "postScroll", params.dump());
  }
  static bool refused(const Json& answer) {
    return answer["ok"] == true &&
           answer["result"] ==
               (Json{{"status", "stale-window"}, {"posted", false}, {"windowChanged", true}});
  }

  testing::XWindowProbe x;
  std::unique_ptr<ServiceProcess> service = DesktopEnvironment::startService();
};

TEST_F(WindowsTest, BothViewsAndTheGuardFollowAMoveAndResizeByTheWindowManager) {
  ProbeWindow a("Tavren Probe A", "400x300"), b("Tavren Probe B", "300x200");
  const xcb_window_t wa = clientOf(a), wb = clientOf(b);
  ASSERT_NE(wa, wb);
  const Frame before = x.frame(wa).value();
  const Frame target{200, 150, 500, 350};
  ASSERT_NE(before, target);
  x.moveResize(wa, target);
  ASSERT_TRUE(x.waitUntil([&] { return x.frame(wa) == target; }, kSettle)) << "no move";

  // The catalog: both windows, client ids (never frames), X's rectangles.
  Json catalog = result("windowCatalog");
  const Json* ca = withId(catalog, wa);
  const Json* cb = withId(catalog, wb);
  ASSERT_TRUE(ca && cb) << catalog;
  EXPECT_EQ(frameOf(*ca), target);
  EXPECT_EQ(frameOf(*cb), x.frame(wb).value());
  EXPECT_EQ((*ca)["pid"], a.pid);
  EXPECT_EQ((*ca)["title"], a.title);
  EXPECT_EQ((*ca)["onScreen"], true);

  // The window server's view of A. The fixtures' bin directory holds many programs: it is no
  // application's install root, so B's window is not admitted as an auxiliary process's.
  Json server = result("windowServerWindows", {{"pid", a.pid}});
  const Json* sa = withId(server["windows"], wa);
  ASSERT_TRUE(sa) << server;
  EXPECT_EQ(frameOf(*sa), target);
  EXPECT_EQ((*sa)["path"], std::string(TAVREN_BIN_DIR) + "/tavren-fixture-titled-window");
  EXPECT_EQ(server["rootPath"], "");
  EXPECT_FALSE(withId(server["windows"], wb)) << server;

  // The accessible view agrees on the same window.
  Json app = result("appWindows", {{"pid", a.pid}});
  EXPECT_EQ(app["trusted"], true);
  EXPECT_EQ(app["hidden"], false);
  ASSERT_EQ(app["windows"].size(), 1u) << app;
  EXPECT_EQ(app["windows"][0]["title"], a.title);
  EXPECT_EQ(app["windows"][0]["role"], "AXWindow");
  EXPECT_EQ(frameOf(app["windows"][0]), target);

  // The guard takes the observation as X has it, and refuses it one point off.
  EXPECT_FALSE(refused(guardedAnswer(a.pid, wa, target)));
  EXPECT_TRUE(refused(guardedAnswer(a.pid, wa, before)));
  Frame moved = target;
  ++moved.x;
  EXPECT_TRUE(refused(guardedAnswer(a.pid, wa, moved)));
  EXPECT_TRUE(refused(guardedAnswer(b.pid, wa, target)));  // another owner
}

TEST_F(WindowsTest, MinimizedWindowsStayListedAndRestoreBringsThemBack) {
  ProbeWindow a("Tavren Probe Minimized", "320x240");
  const xcb_window_t wa = clientOf(a);
  const Frame frame = x.frame(wa).value();
  x.minimize(wa);
  ASSERT_TRUE(x.waitUntil([&] { return x.iconic(wa) && !x.viewable(wa); }, kSettle));

  Json app = result("appWindows", {{"pid", a.pid}});
  ASSERT_EQ(app["windows"].size(), 1u) << app;
  EXPECT_EQ(app["windows"][0]["minimized"], true);
  EXPECT_EQ(app["hidden"], true);  // its only window is minimized
  EXPECT_EQ(frameOf(app["windows"][0]), frame);
  const Json catalog = result("windowCatalog");
  const Json* listed = withId(catalog, wa);
  ASSERT_TRUE(listed) << catalog;
  EXPECT_EQ((*listed)["onScreen"], false);
  EXPECT_EQ(frameOf(*listed), frame);

  Json restored = result("restoreAppWindows", {{"pid", a.pid}});
  EXPECT_EQ(restored["restored"], 1) << restored;
  ASSERT_TRUE(x.waitUntil([&] { return !x.iconic(wa) && x.viewable(wa); }, kSettle));

  app = result("appWindows", {{"pid", a.pid}});
  EXPECT_EQ(app["windows"][0]["minimized"], false);
  EXPECT_EQ(app["hidden"], false);
  EXPECT_EQ(frameOf(app["windows"][0]), x.frame(wa).value());
  Json server = result("windowServerWindows", {{"pid", a.pid}});
  ASSERT_TRUE(withId(server["windows"], wa));
  EXPECT_EQ((*withId(server["windows"], wa))["onScreen"], true);
  EXPECT_FALSE(refused(guardedAnswer(a.pid, wa, x.frame(wa).value())));

  // Nothing minimized any more: nothing to restore.
  EXPECT_EQ(result("restoreAppWindows", {{"pid", a.pid}})["restored"], 0);
}

TEST_F(WindowsTest, AWindowClosedBetweenObservationAndActionIsRefused) {
  ProbeWindow a("Tavren Probe Closing", "300x200");
  const xcb_window_t wa = clientOf(a);
  Json server = result("windowServerWindows", {{"pid", a.pid}});
  const Json* observed = withId(server["windows"], wa);
  ASSERT_TRUE(observed) << server;
  const Frame frame = frameOf(*observed);
  EXPECT_FALSE(refused(guardedAnswer(a.pid, wa, frame)));

  const pid_t pid = a.pid;
  a.end();
  ASSERT_TRUE(x.waitUntil([&] { return !x.frame(wa); }, kSettle)) << "the window stayed";
  EXPECT_TRUE(refused(guardedAnswer(pid, wa, frame)));
  EXPECT_EQ(withId(result("windowCatalog"), wa), nullptr);
}

}  // namespace
}  // namespace tavren
