#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "apps/fixture_report.h"
#include "headless/headless_desktop.h"
#include "support/service_fixture.h"

namespace tavren::testing {

// One headless desktop for a whole test binary, with gtk3-widget-factory running on it.
class DesktopEnvironment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;

  static headless::HeadlessDesktop& desktop();
  static pid_t widgetFactoryPid();
  // The real service, living on the shared desktop.
  static std::unique_ptr<ServiceProcess> startService();
};

// Applications started on the shared desktop for one test and killed with it.
class LaunchedApps {
 public:
  LaunchedApps() = default;
  ~LaunchedApps();
  LaunchedApps(const LaunchedApps&) = delete;
  LaunchedApps& operator=(const LaunchedApps&) = delete;

  // Starts argv and waits for its window titled `title`; fails the test (and returns what it
  // has) when either does not happen.
  pid_t start(const std::vector<std::string>& argv, const std::string& title,
              std::chrono::seconds wait = std::chrono::seconds(30));

 private:
  std::vector<pid_t> pids_;
};

// The parameters {"pid": pid<more>}; `more` is further members, each with its leading comma.
std::string pidParams(pid_t pid, const std::string& more = "");

// The "name=value" lines a fixture writes to its report file (the input probe's), by name.
inline std::map<std::string, std::string> readReport(const std::string& path) {
  return readFixtureReport(path);
}

// "axTree" of the application once it has registered with the accessibility bus (a little
// after its window shows) and gives at least `atLeast` rows; the last answer after ten seconds.
Json treeOnceRegistered(ServiceProcess& service, pid_t pid, const std::string& more = "",
                        size_t atLeast = 1);

}  // namespace tavren::testing
