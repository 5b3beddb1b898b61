#include "support/desktop_fixture.h"

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
