#include "support/desktop_fixture.h"

#include <signal.h>

#include <thread>

namespace tavren::testing {
namespace {

std::unique_ptr<headless::HeadlessDesktop> sharedDesktop;
pid_t factoryPid = -1;

// Registered before main() runs the tests; gtest owns it from then on.
[[maybe_unused]] auto* const registered =
    ::testing::AddGlobalTestEnvironment(new DesktopEnvironment);

}  // namespace

void DesktopEnvironment::SetUp() {
  std::string error;
  sharedDesktop = headless::HeadlessDesktop::start(headless::DesktopOptions{}, &error);
  ASSERT_NE(sharedDesktop, nullptr) << error;
  factoryPid = sharedDesktop->launch({"gtk3-widget-factory"}, &error);
  ASSERT_GT(factoryPid, 0) << error;
  ASSERT_TRUE(sharedDesktop->waitForWindow(factoryPid, "", std::chrono::seconds(30)))
      << "gtk3-widget-factory showed no window";
}

void DesktopEnvironment::TearDown() {
  if (sharedDesktop) sharedDesktop->stop();
  sharedDesktop.reset();
}

headless::HeadlessDesktop& DesktopEnvironment::desktop() { return *sharedDesktop; }
pid_t DesktopEnvironment::widgetFactoryPid() { return factoryPid; }

std::unique_ptr<ServiceProcess> DesktopEnvironment::startService() {
  return testing::startService({serviceBinary()}, sharedDesktop->environment());
}

}  // namespace tavren::testing

namespace tavren::testing {

LaunchedApps::~LaunchedApps() {
  for (pid_t pid : pids_) kill(pid, SIGKILL);
}

pid_t LaunchedApps::start(const std::vector<std::string>& argv, const std::string& title,
                          std::chrono::seconds wait) {
  std::string error;
  const pid_t pid = DesktopEnvironment::desktop().launch(argv, &error);
  EXPECT_GT(pid, 0) << error;
  if (pid <= 0) return pid;
  pids_.push_back(pid);
  EXPECT_TRUE(DesktopEnvironment::desktop().waitForWindow(pid, title, wait)) << title;
  return pid;
}

std::string pidParams(pid_t pid, const std::string& more) {
  return "{\"pid\":" + std::to_string(pid) + more + "}";
}

Json treeOnceRegistered(ServiceProcess& service, pid_t pid, const std::string& more,
                        size_t atLeast) {
  Json r;
  for (int i = 0; i < 100; ++i) {
    r = call(service, "t" + std::to_string(i), "axTree", pidParams(pid, more));
    if (r["ok"] == true && r["result"]["elements"].size() >= atLeast) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return r;
}

}  // namespace tavren::testing
