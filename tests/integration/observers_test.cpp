// Watching applications on the real desktop: the exact "windowLifecycle" lines, in order, for
// a window that is moved, resized, renamed, minimized, restored, joined by a second window and
// closed, for two applications at once, for an application that exits, and for Qt 5 and GTK 4.
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
using Frame = testing::XWindowProbe::Frame;

constexpr auto kSettle = 10s;  // bound on waiting for the window manager or an application
const std::string kQtClock =
    "/usr/lib/x86_64-linux-gnu/qt5/examples/widgets/widgets/analogclock/analogclock";

// One expected line: notification and title.
using Line = std::pair<std::string, std::string>;
using Lines = std::vector<Line>;

class ObserversTest : public ::testing::Test {
 protected:
  ObserversTest() : x(DesktopEnvironment::desktop().display()) {}
  void SetUp() override {
    ASSERT_TRUE(x.connected());
    service = DesktopEnvironment::startService();
    ASSERT_TRUE(service);
  }
  void TearDown() override {
    for (pid_t pid : launched) kill(pid, SIGKILL);
    if (service) testing::expectQuietExit(*service);
  }

  pid_t launch(const std::vector<std::string>& argv, const std::string& title) {
    std::string error;
    pid_t pid = DesktopEnvironment::desktop().launch(argv, &error);
    EXPECT_GT(pid, 0) << error;
    if (pid <= 0) return pid;
    launched.push_back(pid);
    EXPECT_TRUE(DesktopEnvironment::desktop().waitForWindow(pid, title, 30s)) << title;
    // The manager focuses a new window a little after it shows: watching starts after that, so
    // that its focus lines do not mix with those a test expects.
    auto w = x.clientOf(pid);
    EXPECT_TRUE(w && x.waitUntil([&] { return x.activeWindow() == *w; }, kSettle)) << title;
    return pid;
  }
  pid_t launchFixture(const std::string& title) {
    return launch({std::string(TAVREN_BIN_DIR) + "/tavren-fixture-lifecycle-window", "--title",
                   title},
                  title);
  }
  Json watch(pid_t pid) {
    Json r = call(*service, "w" + std::to_string(pid), "watchApp",
                  "{\"pid\":" + std::to_string(pid) + "}");
    EXPECT_EQ(r["ok"], true) << r;
    return r["result"];
  }

  // Reads output until `count` event lines of `pid` have come (more are kept for the next
  // call), and checks each line's envelope.
  Lines events(pid_t pid, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + kSettle;
    while (pending[pid].size() < count) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left <= 0ms) break;
      auto text = service->readLine(left);
      if (!text) break;
      Json line = Json::parse(*text);
      if (!line.contains("event")) continue;  // a response
      EXPECT_EQ(line.size(), 7u) << line;
      EXPECT_EQ(line["version"], 1);
      EXPECT_EQ(line["event"], "windowLifecycle");
      const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
      EXPECT_LE(line["at"].get<int64_t>(), now);
      EXPECT_GT(line["at"].get<int64_t>(), now - 60'000);
      pending[line["pid"].get<pid_t>()].push_back(line);
    }
    Lines out;
    auto& queue = pending[pid];
    for (size_t i = 0; i < count && !queue.empty(); ++i) {
      out.emplace_back(queue.front()["notification"], queue.front()["title"]);
      lastAppId[pid] = queue.front()["appId"];
      queue.erase(queue.begin());
    }
    return out;
  }
  // Nothing more for `pid`: the lines read until a ping's answer hold no event of it.
  void expectNoMore(pid_t pid) {
    service->send(requestLine("quiet", "ping"));
    while (auto text = service->readLine(kSettle)) {
      Json line = Json::parse(*text);
      if (line.value("id", "") == "quiet") break;
      if (line.contains("event") && line["pid"] == pid) ADD_FAILURE() << "extra line " << line;
    }
    EXPECT_TRUE(pending[pid].empty()) << pending[pid].size() << " extra lines";
  }

  xcb_window_t clientOf(pid_t pid) {
    auto w = x.clientOf(pid);
    EXPECT_TRUE(w);
    return w.value_or(XCB_WINDOW_NONE);
  }
  // Moves (and resizes) the window to `to` through the manager, keeping its size where `to`
  // gives none.
  void moveTo(xcb_window_t w, Frame to) {
    auto f = x.frame(w);
    ASSERT_TRUE(f);
    if (to.w == 0) to.w = f->w, to.h = f->h;
    x.moveResize(w, to);
    ASSERT_TRUE(x.waitUntil([&] { return x.frame(w) == to; }, kSettle))
        << x.frame(w).value_or(Frame{}).x << "," << x.frame(w).value_or(Frame{}).y;
  }

  testing::XWindowProbe x;
  std::unique_ptr<ServiceProcess> service;
  std::vector<pid_t> launched;
  std::map<pid_t, std::vector<Json>> pending;
  std::map<pid_t, std::string> lastAppId;
};

TEST_F(ObserversTest, AWindowsLifeComesOutLineByLineInOrder) {
  pid_t pid = launchFixture("Watched life");
  xcb_window_t w = clientOf(pid);
  EXPECT_EQ(watch(pid), (Json{{"pid", pid}, {"watching", true}, {"windows", 1}}));
  EXPECT_EQ(watch(pid), (Json{{"pid", pid}, {"watching", true}, {"existing", true}}));

  moveTo(w, {200, 150});
  EXPECT_EQ(events(pid, 1), (Lines{{"AXMoved", "Watched life"}}));
  EXPECT_EQ(lastAppId[pid], "tavren-fixture-lifecycle-window");
  moveTo(w, {200, 150, 350, 220});
  EXPECT_EQ(events(pid, 1), (Lines{{"AXResized", "Watched life"}}));
  kill(pid, SIGUSR2);
  EXPECT_EQ(events(pid, 1), (Lines{{"AXTitleChanged", "Watched life renamed"}}));

  x.minimize(w);
  EXPECT_EQ(events(pid, 2), (Lines{{"AXWindowMiniaturized", "Watched life renamed"},
                                   {"AXApplicationHidden", "tavren-fixture-lifecycle-window"}}));
  x.activate(w);
  EXPECT_EQ(events(pid, 2), (Lines{{"AXApplicationShown", "tavren-fixture-lifecycle-window"},
                                   {"AXWindowDeminiaturized", "Watched life renamed"}}));
  // The window was the application's focused one before and after: no focus line.
  ASSERT_TRUE(x.waitUntil([&] { return x.activeWindow() == w; }, kSettle));

  // A window opened after watching began is watched too.
  kill(pid, SIGUSR1);
  EXPECT_EQ(events(pid, 3), (Lines{{"AXWindowCreated", "Watched life 2"},
                                   {"AXFocusedWindowChanged", "Watched life 2"},
                                   {"AXMainWindowChanged", "Watched life 2"}}));
  ASSERT_TRUE(DesktopEnvironment::desktop().waitForWindow(pid, "Watched life 2", kSettle));
  xcb_window_t second = XCB_WINDOW_NONE;
  ASSERT_TRUE(x.waitUntil(
      [&] {
        second = x.activeWindow();
        return second != w && second != XCB_WINDOW_NONE;
      },
      kSettle));
  moveTo(second, {420, 260});
  EXPECT_EQ(events(pid, 1), (Lines{{"AXMoved", "Watched life 2"}}));

  // Closing the second window: the manager normally gives the first the focus back, but under
  // load it may leave the focus nowhere; then the test hands it back the way a pager would. The
  // destroy and the focus change are separate X events whose order is the server's.
  kill(pid, SIGHUP);
  if (!x.waitUntil([&] { return x.activeWindow() == w; }, 3s)) x.activate(w);
  Lines closing = events(pid, 3);
  const Lines destroyed{{"AXUIElementDestroyed", ""}};
  auto gone = std::ranges::find(closing, destroyed.front());
  ASSERT_NE(gone, closing.end()) << closing.size() << " lines";
  closing.erase(gone);
  EXPECT_EQ(closing, (Lines{{"AXFocusedWindowChanged", "Watched life renamed"},
                            {"AXMainWindowChanged", "Watched life renamed"}}));
  expectNoMore(pid);
}

TEST_F(ObserversTest, TwoApplicationsAreWatchedApartAndAnExitedOneEndsCleanly) {
  pid_t a = launchFixture("Watched A");
  pid_t b = launchFixture("Watched B");
  xcb_window_t wa = clientOf(a), wb = clientOf(b);
  EXPECT_EQ(watch(a)["windows"], 1);
  EXPECT_EQ(watch(b)["windows"], 1);
  moveTo(wb, {300, 200});
  moveTo(wa, {120, 100});
  EXPECT_EQ(events(a, 1), (Lines{{"AXMoved", "Watched A"}}));
  EXPECT_EQ(events(b, 1), (Lines{{"AXMoved", "Watched B"}}));

  kill(a, SIGTERM);
  EXPECT_EQ(events(a, 1), (Lines{{"AXUIElementDestroyed", ""}}));
  // The other application is still watched.
  moveTo(wb, {320, 220});
  EXPECT_EQ(events(b, 1), (Lines{{"AXMoved", "Watched B"}}));
  Json again = call(*service, "again", "watchApp", "{\"pid\":" + std::to_string(a) + "}");
  EXPECT_EQ(again["error"], "No matching running app");
  expectNoMore(a);
  expectNoMore(b);
}

TEST_F(ObserversTest, AQt5ApplicationsWindowIsWatchedLikeAnyOther) {
  pid_t pid = launch({kQtClock}, "Analog Clock");
  xcb_window_t w = clientOf(pid);
  EXPECT_EQ(watch(pid)["windows"], 1);
  moveTo(w, {150, 120});
  EXPECT_EQ(events(pid, 1), (Lines{{"AXMoved", "Analog Clock"}}));
  moveTo(w, {150, 120, 260, 260});
  EXPECT_EQ(events(pid, 1), (Lines{{"AXResized", "Analog Clock"}}));
  x.minimize(w);
  EXPECT_EQ(events(pid, 2), (Lines{{"AXWindowMiniaturized", "Analog Clock"},
                                   {"AXApplicationHidden", "analogclock"}}));
  x.activate(w);
  EXPECT_EQ(events(pid, 2), (Lines{{"AXApplicationShown", "analogclock"},
                                   {"AXWindowDeminiaturized", "Analog Clock"}}));
  kill(pid, SIGTERM);
  EXPECT_EQ(events(pid, 1), (Lines{{"AXUIElementDestroyed", ""}}));
  expectNoMore(pid);
}

TEST_F(ObserversTest, AGtk4ApplicationsWindowIsWatchedLikeAnyOther) {
  pid_t pid = launch({"gtk4-widget-factory"}, "Widget Factory");
  xcb_window_t w = clientOf(pid);
  EXPECT_EQ(watch(pid)["windows"], 1);
  moveTo(w, {140, 110});
  EXPECT_EQ(events(pid, 1), (Lines{{"AXMoved", "GTK Widget Factory"}}));
  EXPECT_EQ(lastAppId[pid], "org.gtk.WidgetFactory4");
  x.minimize(w);
  EXPECT_EQ(events(pid, 2), (Lines{{"AXWindowMiniaturized", "GTK Widget Factory"},
                                   {"AXApplicationHidden", "Widget Factory"}}));
  x.activate(w);
  EXPECT_EQ(events(pid, 2), (Lines{{"AXApplicationShown", "Widget Factory"},
                                   {"AXWindowDeminiaturized", "GTK Widget Factory"}}));
  kill(pid, SIGTERM);
  EXPECT_EQ(events(pid, 1), (Lines{{"AXUIElementDestroyed", ""}}));
  expectNoMore(pid);
}

TEST_F(ObserversTest, EventLinesStayWholeAmongConcurrentResponses) {
  pid_t pid = launchFixture("Watched busy");
  xcb_window_t w = clientOf(pid);
  watch(pid);
  for (int i = 0; i < 32; ++i) {
    service->send(requestLine("c" + std::to_string(i), i % 2 ? "listRunningApps" : "ping"));
  }
  for (int i = 0; i < 4; ++i) moveTo(w, {100 + 10 * i, 100});
  size_t responses = 0, moves = 0;
  while (responses < 32 || moves < 1) {
    auto text = service->readLine(kSettle);
    ASSERT_TRUE(text) << responses << " responses, " << moves << " moves";
    Json line = Json::parse(*text, nullptr, false);
    ASSERT_FALSE(line.is_discarded()) << *text;
    if (line.contains("event")) {
      EXPECT_FALSE(line.contains("id"));
      moves += line["pid"] == pid && line["notification"] == "AXMoved" ? 1 : 0;
    } else {
      EXPECT_EQ(line["ok"], true) << line;
      ++responses;
    }
  }
  // A rename comes after every move: once its line is read, nothing is left half written.
  kill(pid, SIGUSR2);
  for (;;) {
    auto text = service->readLine(kSettle);
    ASSERT_TRUE(text);
    Json line = Json::parse(*text, nullptr, false);
    ASSERT_FALSE(line.is_discarded()) << *text;
    if (line.value("notification", "") == "AXTitleChanged") break;
  }
  EXPECT_EQ(service->partialOutput(), "");
}

}  // namespace
}  // namespace tavren
