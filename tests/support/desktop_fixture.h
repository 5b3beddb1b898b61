#pragma once

#include <gtest/gtest.h>

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

}  // namespace tavren::testing
