// Applications that misbehave while the service reads and acts on them: stopped, flooding the
// accessibility bus with events, or holding a huge tree. Each request answers within its
// timeout, other requests go on meanwhile, and the application is left running with its
// window, on GTK 3, GTK 4 and Qt 5.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <thread>

#include "support/desktop_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::call;
using testing::DesktopEnvironment;

const std::string kBin = TAVREN_BIN_DIR;
const std::string kQtRichText =
    "/usr/lib/x86_64-linux-gnu/qt5/examples/widgets/richtext/textedit/textedit";
const std::string kLimits = ",\"maxElements\":2000,\"maxDepth\":30";

struct App {
  std::vector<std::string> argv;
  std::string title;
};

class Launched {
 public:
  ~Launched() {
    for (pid_t pid : pids_) kill(pid, SIGKILL);
  }
  pid_t start(const App& app, std::chrono::seconds timeout = std::chrono::seconds(30)) {
    std::string error;
    pid_t pid = DesktopEnvironment::desktop().launch(app.argv, &error);
    EXPECT_GT(pid, 0) << error;
    if (pid <= 0) return pid;
    pids_.push_back(pid);
    EXPECT_TRUE(DesktopEnvironment::desktop().waitForWindow(pid, app.title, timeout)) << app.title;
    return pid;
  }

 private:
  std::vector<pid_t> pids_;
};

std::string params(pid_t pid, const std::string& more = "") {
  return "{\"pid\":" + std::to_string(pid) + more + "}";
}

// Running, not a zombie: a process that crashed stays a zombie until its parent reaps it.
bool alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pidField, comm, state;
  if (!(stat >> pidField >> comm >> state)) return false;
  return state != "Z" && state != "X";
}

Json treeOnceRegistered(ServiceProcess& service, pid_t pid, const std::string& more = kLimits) {
  Json r;
  for (int i = 0; i < 100; ++i) {
    r = call(service, "t" + std::to_string(i), "axTree", params(pid, more));
    if (r["ok"] == true && !r["result"]["elements"].empty()) break;
    std::this_thread::sleep_for(100ms);
  }
  return r;
}

// Pings sent while `busy` is in flight are all answered, and answered before it.
void expectPingsAnswerMeanwhile(ServiceProcess& service, const std::string& busy) {
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(call(service, busy + "-ping" + std::to_string(i), "ping")["ok"], true);
  }
}

void expectUnharmed(const App& app, pid_t pid) {
  EXPECT_TRUE(alive(pid)) << app.title;
  EXPECT_TRUE(DesktopEnvironment::desktop().waitForWindow(pid, app.title, 5s)) << app.title;
}

TEST(AppFaults, StoppedApplicationsOfEveryToolkitCostATimeoutAndComeBackUnharmed) {
  const App apps[] = {{{kBin + "/tavren-fixture-act-form"}, "Tavren Act"},
                      {{"gtk4-print-editor"}, "Print Editor"},
                      {{kQtRichText}, "Rich Text"}};
  auto service = DesktopEnvironment::startService();
  for (const App& app : apps) {
    SCOPED_TRACE(app.title);
    Launched launched;
    const pid_t pid = launched.start(app);
    ASSERT_EQ(treeOnceRegistered(*service, pid)["ok"], true);
    kill(pid, SIGSTOP);
    service->send(requestLine("tree", "axTree", params(pid, kLimits)));
    service->send(requestLine("windows", "appWindows", params(pid)));
    expectPingsAnswerMeanwhile(*service, "stopped");
    for (const char* id : {"tree", "windows"}) {
      auto line = service->responseFor(id, 30s);
      ASSERT_TRUE(line) << id << " not answered while the application was stopped";
      EXPECT_TRUE(Json::parse(*line, nullptr, false).is_object()) << *line;
    }
    kill(pid, SIGCONT);
    expectUnharmed(app, pid);
    EXPECT_EQ(treeOnceRegistered(*service, pid)["ok"], true);
  }
  service->closeInput();
  EXPECT_EQ(service->wait(10s), 0);
  EXPECT_EQ(service->errorOutput(), "");
}

TEST(AppFaults, AFloodOfAccessibilityEventsHoldsUpNoRequest) {
  const App flood{{kBin + "/tavren-fixture-event-flood"}, "Tavren Event Flood"};
  Launched launched;
  const pid_t pid = launched.start(flood);
  auto service = DesktopEnvironment::startService();
  for (int round = 0; round < 5; ++round) {
    Json tree = treeOnceRegistered(*service, pid);
    ASSERT_EQ(tree["ok"], true) << tree;
    service->send(requestLine("set" + std::to_string(round), "setAXValue",
                              Json{{"pid", pid}, {"path", "w0.0.0"}, {"value", "steady"}}.dump()));
    expectPingsAnswerMeanwhile(*service, "flood" + std::to_string(round));
    // Another application is read as usual while the flood goes on.
    Json other = call(*service, "other", "axTree",
                      params(DesktopEnvironment::widgetFactoryPid(), ",\"maxElements\":50"));
    EXPECT_EQ(other["ok"], true) << other;
    auto set = service->responseFor("set" + std::to_string(round), 30s);
    ASSERT_TRUE(set);
    EXPECT_EQ(Json::parse(*set)["result"]["status"], "ok") << *set;
  }
  expectUnharmed(flood, pid);
  service->closeInput();
  EXPECT_EQ(service->wait(10s), 0);
  EXPECT_EQ(service->errorOutput(), "");
}

TEST(AppFaults, AHundredThousandNodeTreeIsReadWithinItsBudget) {
  // 50,000 rows of two cells: 100,000 accessible cells under one tree view.
  const App huge{{kBin + "/tavren-fixture-tree-rows", "50000"}, "Tavren Tree Rows"};
  Launched launched;
  const pid_t pid = launched.start(huge, 60s);
  auto service = DesktopEnvironment::startService();
  Json first = treeOnceRegistered(*service, pid);
  ASSERT_EQ(first["ok"], true) << first.dump().substr(0, 300);
  service->send(requestLine("huge", "axTree", params(pid, kLimits)));
  expectPingsAnswerMeanwhile(*service, "huge");
  auto line = service->responseFor("huge", 60s);
  ASSERT_TRUE(line);
  Json r = Json::parse(*line);
  ASSERT_EQ(r["ok"], true);
  EXPECT_EQ(r["result"]["elements"].size(), 2000u);  // the budget, not the tree, ends the read
  expectUnharmed(huge, pid);
  service->closeInput();
  EXPECT_EQ(service->wait(10s), 0);
  EXPECT_EQ(service->errorOutput(), "");
}

}  // namespace
}  // namespace tavren
