// The virtual display through the real service started with no display at all: the owner and
// size rules, the display itself, applications on it read and captured through the service, and
// nothing left running once the display is released or the service ends, however it ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <xcb/randr.h>

#include <cstdio>
#include <set>
#include <thread>

#include "headless/process_tree.h"
#include "platform/linux/x11/x_link.h"
#include "process/child_spawn.h"
#include "support/decoded_image.h"
#include "support/desktop_fixture.h"
#include "support/service_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::call;

std::unique_ptr<ServiceProcess> startHeadlessService() {
  return testing::startService({testing::serviceBinary()}, {{"DISPLAY", ""},
                                                            {"WAYLAND_DISPLAY", ""},
                                                            {"DBUS_SESSION_BUS_ADDRESS", ""},
                                                            {"AT_SPI_BUS_ADDRESS", ""}});
}

std::string errorOf(const Json& response) {
  return response.value("ok", true) ? "<ok>" : response.value("error", "");
}

// Every live descendant of `root`, as /proc shows them now.
std::set<pid_t> descendants(pid_t root) {
  std::set<pid_t> found = {root};
  const auto table = headless::readProcessTable();
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& p : table) {
      if (p.state != 'Z' && found.count(p.ppid) && found.insert(p.pid).second) grew = true;
    }
  }
  found.erase(root);
  return found;
}

// Those of `pids` still alive (zombies count as ended) after waiting up to `timeout`.
std::set<pid_t> survivors(const std::set<pid_t>& pids, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::set<pid_t> alive;
  do {
    alive.clear();
    for (pid_t pid : pids) {
      auto stat = procfs::readProcStat(pid);
      if (stat && stat->state != 'Z') alive.insert(pid);
    }
    if (alive.empty()) break;
    std::this_thread::sleep_for(20ms);
  } while (std::chrono::steady_clock::now() < deadline);
  return alive;
}

std::string commandOutput(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

// The RandR monitors of a display as "WxH" strings.
std::vector<std::string> monitorSizes(const std::string& display) {
  std::vector<std::string> sizes;
  auto link = x11::XLink::connect(display);
  if (!link) return sizes;
  auto version = xcb_randr_query_version(link->get(), 1, 5);
  (void)link->reply(xcb_randr_query_version_reply, version);
  auto reply = link->reply(xcb_randr_get_monitors_reply,
                           xcb_randr_get_monitors(link->get(), link->root(), 1));
  if (!reply) return sizes;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
       xcb_randr_monitor_info_next(&it)) {
    sizes.push_back(std::to_string(it.data->width) + "x" + std::to_string(it.data->height));
  }
  return sizes;
}

// Starts a program on `display` as a host would: only DISPLAY tells it where to go.
pid_t launchOn(const std::string& display, const std::vector<std::string>& argv) {
  SpawnRequest request;
  request.argv = argv;
  // No session bus of ours, and none auto-launched for it: the accessibility bus is found
  // through the display.
  request.environment = overlayEnvironment(
      processEnvironment(),
      {{"DISPLAY", display}, {"GDK_BACKEND", "x11"}, {"GSETTINGS_BACKEND", "memory"},
       {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}},
      {"WAYLAND_DISPLAY", "AT_SPI_BUS_ADDRESS", "NO_AT_BRIDGE"});
  request.ownProcessGroup = true;
  std::string error;
  pid_t pid = spawnProcess(request, &error);
  EXPECT_GT(pid, 0) << error;
  return pid;
}

TEST(RemoteDisplay, HeadlessServiceMakesOneDisplayForOneOwner) {
  auto service = startHeadlessService();
  ASSERT_TRUE(service);
  EXPECT_EQ(call(*service, "s", "remoteDisplayStatus")["result"],
            (Json{{"supported", true}, {"headless", true}, {"displayIds", Json::array()}}));

  EXPECT_EQ(errorOf(call(*service, "1", "remoteDisplayEnsure", R"({"owner":""})")),
            "缺少有效的远控会话标识。");
  EXPECT_EQ(errorOf(call(*service, "2", "remoteDisplayEnsure", R"({"owner":"a","width":"800"})")),
            "虚拟显示器尺寸无效。");
  EXPECT_EQ(errorOf(call(*service, "3", "remoteDisplayEnsure", R"({"owner":"a","height":2161})")),
            "虚拟显示器尺寸必须在 640×480 至 3840×2160 之间。");
  EXPECT_TRUE(descendants(service->pid()).empty()) << "refused requests start nothing";

  Json made = call(*service, "4", "remoteDisplayEnsure", R"({"owner":"a","width":1024,"height":768})");
  ASSERT_EQ(made["ok"], true) << made.dump();
  EXPECT_EQ(made["result"]["created"], true);
  const std::string id = made["result"]["displayId"];
  const std::string display = ":" + id;

  const std::string info = commandOutput("xdpyinfo -display " + display + " 2>&1");
  EXPECT_NE(info.find("1024x768 pixels"), std::string::npos) << info.substr(0, 600);
  EXPECT_NE(info.find("96x96 dots per inch"), std::string::npos) << info.substr(0, 600);
  EXPECT_EQ(monitorSizes(display), std::vector<std::string>{"1024x768"});

  Json again = call(*service, "5", "remoteDisplayEnsure", R"({"owner":"a","width":640})");
  EXPECT_EQ(again["result"], (Json{{"displayId", id}, {"created", false}}));
  Json other = call(*service, "6", "remoteDisplayEnsure", R"({"owner":"b"})");
  EXPECT_EQ(errorOf(other), "虚拟显示器正由另一个远控会话使用。");
  EXPECT_EQ(call(*service, "7", "remoteDisplayStatus")["result"],
            (Json{{"supported", true}, {"headless", true}, {"displayIds", {id}}, {"ownedDisplayId", id}}));

  const std::set<pid_t> serving = descendants(service->pid());
  EXPECT_GE(serving.size(), 3u) << "server, session bus, accessibility bus, window manager";
  EXPECT_EQ(call(*service, "8", "remoteDisplayRelease", R"({"owner":"b"})")["result"],
            (Json{{"released", false}}));
  EXPECT_EQ(call(*service, "9", "remoteDisplayRelease", "{}")["result"], (Json{{"released", false}}));
  EXPECT_EQ(survivors(serving, 0ms), serving) << "a refused release ends nothing";

  EXPECT_EQ(call(*service, "10", "remoteDisplayRelease", R"({"owner":"a"})")["result"],
            (Json{{"released", true}}));
  EXPECT_TRUE(survivors(serving, 5s).empty());
  EXPECT_TRUE(monitorSizes(display).empty()) << "the server still answers";
  EXPECT_EQ(call(*service, "11", "remoteDisplayStatus")["result"]["displayIds"], Json::array());
  testing::expectQuietExit(*service);
}

TEST(RemoteDisplay, ApplicationsOnTheDisplayAreServed) {
  auto service = startHeadlessService();
  ASSERT_TRUE(service);
  Json made = call(*service, "1", "remoteDisplayEnsure", R"({"owner":"host"})");
  ASSERT_EQ(made["ok"], true) << made.dump();
  const std::string display = ":" + made["result"]["displayId"].get<std::string>();

  const pid_t app = launchOn(display, {std::string(TAVREN_BIN_DIR) + "/tavren-fixture-titled-window",
                                       "--title", "On the new display", "--size", "320x200"});
  ASSERT_GT(app, 0);
  uint32_t window = 0;
  for (auto deadline = std::chrono::steady_clock::now() + 20s;
       window == 0 && std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(50ms)) {
    Json catalog = call(*service, "c", "windowCatalog");
    for (const Json& w : catalog.value("result", Json::array())) {
      if (w.value("pid", 0) == app && w.value("title", "") == "On the new display") {
        window = w.value("id", 0u);
      }
    }
  }
  ASSERT_NE(window, 0u) << "the window never appeared in the catalogue";

  Json apps = call(*service, "2", "listRunningApps");
  bool listed = false;
  for (const Json& a : apps["result"]) listed = listed || a.value("pid", 0) == app;
  EXPECT_TRUE(listed) << apps.dump().substr(0, 500);

  Json capture = call(*service, "3", "captureWindow",
                      Json{{"windowId", window}, {"maxWidth", 320}, {"guiCapture", true}}.dump());
  ASSERT_EQ(capture["ok"], true) << capture.dump().substr(0, 300);
  auto image = testing::decodePng(testing::base64Decoded(capture["result"]["dataBase64"]));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 320);

  Json tree;
  for (auto deadline = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(100ms)) {
    tree = call(*service, "4", "axTree", Json{{"pid", app}, {"maxElements", 50}}.dump());
    if (tree["ok"] == true && tree["result"].dump().find("On the new display") != std::string::npos) break;
  }
  EXPECT_NE(tree.dump().find("On the new display"), std::string::npos)
      << "accessibility on the display: " << tree.dump().substr(0, 400);

  kill(-app, SIGKILL);
  waitpid(app, nullptr, 0);
  EXPECT_EQ(call(*service, "5", "remoteDisplayRelease", R"({"owner":"host"})")["result"]["released"], true);
  // Back on the desktop it started with, which is none.
  EXPECT_EQ(call(*service, "6", "windowCatalog")["result"], Json::array());
  testing::expectQuietExit(*service);
}

TEST(RemoteDisplay, NothingIsAddedBesideAWorkingDisplay) {
  auto service = testing::DesktopEnvironment::startService();
  ASSERT_TRUE(service);
  const std::string number = testing::DesktopEnvironment::desktop().display().substr(1);
  EXPECT_EQ(call(*service, "1", "remoteDisplayStatus")["result"],
            (Json{{"supported", true}, {"headless", false}, {"displayIds", {number}}}));
  EXPECT_EQ(call(*service, "2", "remoteDisplayEnsure", R"({"owner":"o"})")["result"],
            (Json{{"created", false}, {"skipped", "display-present"}}));
  EXPECT_TRUE(descendants(service->pid()).empty());
  testing::expectQuietExit(*service);
}

// However the service ends, what it started for its display ends with it.
TEST(RemoteDisplay, NothingOutlivesTheService) {
  for (const char* ending : {"end of input", "SIGTERM", "SIGKILL"}) {
    SCOPED_TRACE(ending);
    auto service = startHeadlessService();
    ASSERT_TRUE(service);
    Json made = call(*service, "1", "remoteDisplayEnsure", R"({"owner":"o","width":800,"height":600})");
    ASSERT_EQ(made["ok"], true) << made.dump();
    const std::set<pid_t> serving = descendants(service->pid());
    ASSERT_FALSE(serving.empty());
    if (std::string(ending) == "end of input") {
      service->closeInput();
    } else {
      kill(service->pid(), std::string(ending) == "SIGTERM" ? SIGTERM : SIGKILL);
    }
    EXPECT_TRUE(service->wait(10s).has_value());
    EXPECT_EQ(service->errorOutput(), "");
    EXPECT_TRUE(survivors(serving, 5s).empty());
  }
}

}  // namespace
}  // namespace tavren
