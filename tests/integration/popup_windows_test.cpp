// A GTK 3 context menu lives in a pop-up that the toolkit lists among the application's own
// children with the "window" role: it is read once, as a pop-up, and is never a window.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "support/desktop_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::call;
using testing::DesktopEnvironment;

const std::string kBin = TAVREN_BIN_DIR;

TEST(ContextMenu, ListedOnceAndNeverAsAWindow) {
  std::string error;
  pid_t pid = DesktopEnvironment::desktop().launch(
      {kBin + "/tavren-fixture-menu-bar", "--context"}, &error);
  ASSERT_GT(pid, 0) << error;
  ASSERT_TRUE(DesktopEnvironment::desktop().waitForWindow(pid, "Tavren Menu Bar", 30s));
  auto service = DesktopEnvironment::startService();
  const std::string params =
      "{\"pid\":" + std::to_string(pid) + ",\"maxElements\":200,\"maxDepth\":10";
  Json r;
  int cuts = 0;
  for (int i = 0; i < 50 && cuts == 0; ++i) {  // the menu pops up shortly after the window
    r = call(*service, "t" + std::to_string(i), "axTree", params + "}");
    for (const Json& row : r["result"]["elements"]) cuts += row["label"] == "Cut";
    if (cuts == 0) std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(cuts, 1) << r;
  for (const Json& row : r["result"]["elements"]) {
    const std::string path = row["path"];
    EXPECT_TRUE(path[0] == 'p' || path.starts_with("w0")) << path;
    if (row["label"] == "Cut") {
      EXPECT_EQ(path[0], 'p');
    }
  }

  Json windows = call(*service, "w", "appWindows", "{\"pid\":" + std::to_string(pid) + "}");
  ASSERT_EQ(windows["result"]["windows"].size(), 1u) << windows;
  EXPECT_EQ(windows["result"]["windows"][0]["title"], "Tavren Menu Bar");

  // The pop-up's X title (the program's name) matches no window.
  Json scoped = call(*service, "s", "axTree",
                     params + ",\"window\":{\"title\":\"tavren-fixture-menu-bar\"}}");
  EXPECT_EQ(scoped["result"]["scopeMatched"], false) << scoped;
  EXPECT_EQ(scoped["result"]["elements"], Json::array());
  kill(pid, SIGKILL);
}

}  // namespace
}  // namespace tavren
