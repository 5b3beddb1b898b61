// The desktop failing under the service: the X server dies. The service keeps answering every
// request (with errors where the display is needed), stays quiet on standard error and ends
// cleanly at end of input.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <set>

#include "headless/headless_desktop.h"
#include "support/desktop_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;

// The X servers this process has started (the shared desktop's among them).
std::set<pid_t> ourXServers() {
  std::set<pid_t> found;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return found;
  while (dirent* entry = readdir(proc)) {
    const pid_t pid = std::atoi(entry->d_name);
    if (pid <= 0) continue;
    std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
    std::string pidField, comm, state;
    pid_t parent = 0;
    if (stat >> pidField >> comm >> state >> parent && comm == "(Xvfb)" && parent == getpid()) {
      found.insert(pid);
    }
  }
  closedir(proc);
  return found;
}

TEST(DesktopFaults, TheXServerDyingLeavesEveryRequestAnswered) {
  const std::set<pid_t> before = ourXServers();
  std::string error;
  auto desktop = headless::HeadlessDesktop::start(headless::DesktopOptions{}, &error);
  ASSERT_TRUE(desktop) << error;
  pid_t x = -1;
  for (pid_t pid : ourXServers()) {
    if (!before.contains(pid)) x = pid;
  }
  auto service = testing::startService({testing::serviceBinary()}, desktop->environment());
  ASSERT_EQ(testing::call(*service, "before", "windowCatalog")["ok"], true);
  ASSERT_GT(x, 0) << "the new desktop's X server was not found";
  ASSERT_EQ(kill(x, SIGKILL), 0);

  const std::pair<std::string, std::string> requests[] = {
      {"ping", "{}"},
      {"windowCatalog", "{}"},
      {"listRunningApps", "{}"},
      {"frontmostApp", "{}"},
      {"interactionSnapshot", "{}"},
      {"captureWindow", R"({"windowId":4194305})"},
      {"axTree", R"({"pid":1})"},
      {"remoteDesktopInput", R"({"type":"key","keyCode":56,"down":true})"},
      {"remoteDesktopInput", R"({"type":"release"})"},
      {"pasteboardSnapshot", R"({"name":"after"})"},
      {"ping", "{}"},
  };
  for (int round = 0; round < 2; ++round) {
    for (const auto& [method, params] : requests) {
      SCOPED_TRACE(method);
      Json r = testing::call(*service, method, method, params);
      ASSERT_TRUE(r.is_object()) << "no answer once the X server was gone";
      if (method == "ping") EXPECT_EQ(r["ok"], true) << r;
      if (method == "captureWindow") EXPECT_EQ(r["ok"], false) << r;  // no display to read
      // An unreadable clipboard is not stored as an empty one.
      if (method == "pasteboardSnapshot") EXPECT_EQ(r["ok"], false) << r;
      if (method == "windowCatalog") EXPECT_EQ(r["result"], Json::array()) << r;
    }
  }
  testing::expectQuietExit(*service);
}

}  // namespace
}  // namespace tavren
