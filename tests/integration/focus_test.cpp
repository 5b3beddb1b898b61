// The front commands on the real desktop: what the window manager and the X server say after
// each one, for GTK 3 and Qt 5 applications, and on a desktop that has no window manager.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "support/desktop_fixture.h"
#include "support/x_window_probe.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::call;
using testing::DesktopEnvironment;

constexpr auto kSettle = 10s;  // bound on waiting for the window manager or an application
constexpr const char* kQtCalculator =
    "/usr/lib/x86_64-linux-gnu/qt5/examples/widgets/widgets/calculator/calculator";

// A program on a desktop, ended when the test ends.
struct Launched {
  Launched(headless::HeadlessDesktop& desktop, std::vector<std::string> argv) {
    std::string error;
    pid = desktop.launch(argv, &error);
    EXPECT_GT(pid, 0) << error;
  }
  ~Launched() {
    if (pid > 0) kill(pid, SIGTERM);
  }
  pid_t pid = -1;
};

std::vector<std::string> titledWindows(const std::string& title, int count) {
  return {std::string(TAVREN_BIN_DIR) + "/tavren-fixture-titled-window", "--title", title,
          "--size", "300x200", "--count", std::to_string(count)};
}

class FrontCommands {
 public:
  FrontCommands(headless::HeadlessDesktop& desktop, std::unique_ptr<ServiceProcess> service)
      : desktop(desktop), x(desktop.display()), service(std::move(service)) {}
  ~FrontCommands() {
    service->closeInput();
    EXPECT_EQ(service->wait(10s), 0);
    EXPECT_EQ(service->errorOutput(), "");
  }

  xcb_window_t window(pid_t pid, const std::string& title) {
    auto w = desktop.clientWindow(pid, title, 30s);
    EXPECT_TRUE(w) << title;
    return w.value_or(XCB_WINDOW_NONE);
  }
  Json result(const std::string& method, const Json& params) {
    Json r = call(*service, "f", method, params.dump());
    EXPECT_EQ(r["ok"], true) << method << " " << r;
    return r["result"];
  }
  // The window manager's active window is `window` and the X input focus is inside it.
  bool holdsFocus(xcb_window_t window) {
    return x.waitUntil([&] { return x.activeWindow() == window && x.focusWithin(window); },
                       kSettle);
  }
  bool onTop(xcb_window_t window) {
    return x.waitUntil([&] { auto s = x.stacking(); return !s.empty() && s.back() == window; },
                       kSettle);
  }

  headless::HeadlessDesktop& desktop;
  testing::XWindowProbe x;
  std::unique_ptr<ServiceProcess> service;
};

class FocusTest : public ::testing::Test {
 protected:
  FocusTest() : f(DesktopEnvironment::desktop(), DesktopEnvironment::startService()) {}
  void SetUp() override { ASSERT_TRUE(f.x.connected()); }

  FrontCommands f;
};

// Bring a background application to the front and give the front back, then refuse to give it
// back once the user moved on to a third application.
void switchAndRestore(FrontCommands& f, pid_t back, xcb_window_t backWindow, pid_t target,
                      xcb_window_t targetWindow, xcb_window_t thirdWindow) {
  f.x.activate(backWindow);
  ASSERT_TRUE(f.holdsFocus(backWindow));
  EXPECT_EQ(f.result("frontmostApp", Json::object())["pid"], back);

  Json brought = f.result("bringToFront", {{"pid", target}});
  EXPECT_EQ(brought["front"], true) << brought;
  EXPECT_EQ(brought["switched"], true);
  EXPECT_EQ(brought["wasFront"], false);
  EXPECT_EQ(brought["previousPid"], back);
  EXPECT_NE(brought["previousName"], "");
  EXPECT_EQ(brought["cursorUnchanged"], true);
  EXPECT_TRUE(f.holdsFocus(targetWindow));
  EXPECT_EQ(f.result("frontmostApp", Json::object())["pid"], target);

  EXPECT_EQ(f.result("restoreFront", {{"pid", back}, {"targetPid", target}}),
            (Json{{"restored", true}}));
  EXPECT_TRUE(f.holdsFocus(backWindow));

  f.result("bringToFront", {{"pid", target}});
  ASSERT_TRUE(f.holdsFocus(targetWindow));
  f.x.activate(thirdWindow);  // the user clicks elsewhere
  ASSERT_TRUE(f.holdsFocus(thirdWindow));
  EXPECT_EQ(f.result("restoreFront", {{"pid", back}, {"targetPid", target}}),
            (Json{{"restored", false}, {"reason", "user moved on"}}));
  EXPECT_TRUE(f.holdsFocus(thirdWindow));
}

TEST_F(FocusTest, GtkApplicationsSwitchAndComeBack) {
  Launched fixture(f.desktop, titledWindows("Focus back", 1));
  Launched third(f.desktop, titledWindows("Focus third", 1));
  const pid_t factory = DesktopEnvironment::widgetFactoryPid();
  const xcb_window_t back = f.window(fixture.pid, "Focus back");
  const xcb_window_t thirdWindow = f.window(third.pid, "Focus third");
  const xcb_window_t factoryWindow = f.window(factory, "");
  switchAndRestore(f, fixture.pid, back, factory, factoryWindow, thirdWindow);
}

TEST_F(FocusTest, QtApplicationSwitchesAndComesBack) {
  Launched fixture(f.desktop, titledWindows("Focus gtk", 1));
  Launched calculator(f.desktop, {kQtCalculator});
  const xcb_window_t back = f.window(fixture.pid, "Focus gtk");
  const xcb_window_t qt = f.window(calculator.pid, "");
  switchAndRestore(f, fixture.pid, back, calculator.pid, qt,
                   f.window(DesktopEnvironment::widgetFactoryPid(), ""));
}

TEST_F(FocusTest, ChosenWindowAmongSeveralIsActivatedAndRaised) {
  Launched several(f.desktop, titledWindows("Focus several", 3));
  const xcb_window_t first = f.window(several.pid, "Focus several 1");
  const xcb_window_t second = f.window(several.pid, "Focus several 2");
  f.window(several.pid, "Focus several 3");  // all shown: none takes the focus later
  const xcb_window_t factory = f.window(DesktopEnvironment::widgetFactoryPid(), "");
  f.x.activate(factory);
  ASSERT_TRUE(f.holdsFocus(factory));

  Json r = f.result("bringToFront", {{"pid", several.pid}, {"windowId", first}, {"raise", true}});
  EXPECT_EQ(r["raised"], true);
  EXPECT_EQ(r["front"], true);
  EXPECT_TRUE(f.holdsFocus(first));
  EXPECT_TRUE(f.onTop(first));

  // Already front: the other window comes on top without taking the focus.
  r = f.result("bringToFront", {{"pid", several.pid}, {"windowId", second}, {"raise", true}});
  EXPECT_EQ(r["wasFront"], true);
  EXPECT_EQ(r["raised"], true);
  EXPECT_EQ(r["previousPid"], 0);
  EXPECT_TRUE(f.onTop(second));

  // A window of another process is not raised in this one's name.
  r = f.result("bringToFront", {{"pid", several.pid},
                                {"windowId", factory},
                                {"raise", true}});
  EXPECT_EQ(r["raised"], false);
}

TEST_F(FocusTest, MinimizedTargetIsShownAndFocused) {
  Launched hidden(f.desktop, titledWindows("Focus minimized", 1));
  const xcb_window_t window = f.window(hidden.pid, "Focus minimized");
  ASSERT_TRUE(f.x.clientOf(hidden.pid));
  f.x.minimize(window);
  ASSERT_TRUE(f.x.waitUntil([&] { return f.x.iconic(window); }, kSettle));

  Json r = f.result("bringToFront", {{"pid", hidden.pid}});
  EXPECT_EQ(r["front"], true) << r;
  EXPECT_TRUE(f.holdsFocus(window));
  EXPECT_FALSE(f.x.iconic(window));
}

TEST_F(FocusTest, TargetNotRunningIsRefused) {
  for (Json pid : {Json(999999), Json(0), Json()}) {
    Json params = Json::object();
    if (!pid.is_null()) params["pid"] = pid;
    Json r = call(*f.service, "n", "bringToFront", params.dump());
    EXPECT_EQ(r["ok"], false) << pid;
    EXPECT_EQ(r["error"], "Target process is not running");
  }
  EXPECT_EQ(f.result("restoreFront", {{"pid", 999999}}),
            (Json{{"restored", false}, {"reason", "previous app is gone"}}));
}

// A desktop of its own without a window manager: the front is whoever holds the input focus,
// and nothing can be switched.
TEST(FocusWithoutManagerTest, FrontIsReadButNeverSwitchedUntilAManagerStarts) {
  headless::DesktopOptions options;
  options.windowManager = false;
  options.accessibility = false;
  std::string error;
  auto desktop = headless::HeadlessDesktop::start(options, &error);
  ASSERT_NE(desktop, nullptr) << error;
  {
    Launched one(*desktop, titledWindows("Bare one", 1));
    Launched two(*desktop, titledWindows("Bare two", 1));
    FrontCommands f(*desktop, testing::startService({testing::serviceBinary()},
                                                    desktop->environment()));
    const xcb_window_t first = f.window(one.pid, "Bare one");
    const xcb_window_t second = f.window(two.pid, "Bare two");
    f.x.focus(second);
    ASSERT_TRUE(f.x.waitUntil([&] { return f.x.focusWithin(second); }, kSettle));
    EXPECT_EQ(f.result("frontmostApp", Json::object())["pid"], two.pid);

    Json r = f.result("bringToFront", {{"pid", one.pid}, {"windowId", first}, {"raise", true}});
    EXPECT_EQ(r["switched"], false);
    EXPECT_EQ(r["front"], false);
    EXPECT_EQ(r["raised"], false);
    EXPECT_EQ(r["previousPid"], two.pid);
    EXPECT_TRUE(f.x.focusWithin(second));
    EXPECT_EQ(f.result("restoreFront", {{"pid", one.pid}, {"targetPid", two.pid}}),
              (Json{{"restored", false}, {"reason", "front switch refused"}}));

    // A manager that starts after the service is used from then on.
    ASSERT_TRUE(desktop->startWindowManager(&error)) << error;
    // Until the new manager has taken the windows in, the application may have none it lists.
    const Json params = {{"pid", one.pid}, {"windowId", first}, {"raise", true}};
    Json answer;
    for (int i = 0; i < 50; ++i) {
      answer = call(*f.service, "m", "bringToFront", params.dump());
      if (answer["ok"] == true) break;
      std::this_thread::sleep_for(100ms);
    }
    r = answer["result"];
    EXPECT_EQ(r["switched"], true) << r;
    EXPECT_TRUE(f.x.waitUntil([&] { return f.x.focusWithin(first); }, kSettle));
  }
  desktop->stop();
}

}  // namespace
}  // namespace tavren
