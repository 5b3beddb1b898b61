// With accessibility switched off on the session (org.a11y.Status IsEnabled false), nothing is
// read from applications, though they still answer on the accessibility bus.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include "support/desktop_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::call;
using testing::DesktopEnvironment;

bool setAccessibilityEnabled(bool enabled) {
  std::string address;
  for (const auto& [key, value] : DesktopEnvironment::desktop().environment()) {
    if (key == "DBUS_SESSION_BUS_ADDRESS") address = value;
  }
  GError* error = nullptr;
  GDBusConnection* session = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, &error);
  if (session == nullptr) {
    g_clear_error(&error);
    return false;
  }
  GVariant* reply = g_dbus_connection_call_sync(
      session, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
      g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(enabled)),
      nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, &error);
  g_clear_error(&error);
  if (reply) g_variant_unref(reply);
  g_object_unref(session);
  return reply != nullptr;
}

TEST(AccessibilityOff, TreesAndWindowsAreEmpty) {
  ASSERT_TRUE(setAccessibilityEnabled(false));
  auto service = DesktopEnvironment::startService();
  const std::string pid = std::to_string(DesktopEnvironment::widgetFactoryPid());
  Json tree = call(*service, "t", "axTree", "{\"pid\":" + pid + ",\"maxElements\":50}");
  Json windows = call(*service, "w", "appWindows", "{\"pid\":" + pid + "}");
  setAccessibilityEnabled(true);
  ASSERT_EQ(tree["ok"], true) << tree;
  EXPECT_EQ(tree["result"]["trusted"], false);
  EXPECT_EQ(tree["result"]["elements"], Json::array());
  ASSERT_EQ(windows["ok"], true) << windows;
  EXPECT_EQ(windows["result"]["trusted"], false);
  EXPECT_EQ(windows["result"]["windows"], Json::array());

  // Switched on again, a new service reads as before.
  auto again = DesktopEnvironment::startService();
  Json on = call(*again, "t", "axTree", "{\"pid\":" + pid + ",\"maxElements\":50}");
  EXPECT_EQ(on["result"]["trusted"], true);
  EXPECT_FALSE(on["result"]["elements"].empty());
}

}  // namespace
}  // namespace tavren
