// The environment programs on a headless desktop get.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "headless/desktop_environment.h"
#include "process/child_spawn.h"

namespace tavren::headless {
namespace {

std::vector<std::string> withKey(const std::vector<std::string>& env, const std::string& key) {
  std::vector<std::string> found;
  for (const std::string& e : env) {
    if (e.rfind(key + "=", 0) == 0) found.push_back(e);
  }
  return found;
}

TEST(DesktopEnvironment, ReplacesTheCallersDisplayAndBusesInsteadOfInheritingThem) {
  std::vector<std::string> caller = {
      "PATH=/usr/bin",
      "DISPLAY=:7",
      "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus",
      "AT_SPI_BUS_ADDRESS=unix:path=/run/user/1000/at-spi/bus",
      "WAYLAND_DISPLAY=wayland-0",
      "NO_AT_BRIDGE=1",
      "HOME=/home/u",
      "HOME=/elsewhere",  // getenv sees the first copy; so must every child
      "malformed",
      "=novalue"};
  DesktopAddresses addresses{":3", "unix:path=/tmp/d/bus", "unix:path=/tmp/d/a11y", "/tmp/d", true};
  std::vector<std::string> env = overlayEnvironment(caller, desktopVariables(addresses),
                                                    variablesToDrop(addresses.accessibility));

  EXPECT_EQ(withKey(env, "DISPLAY"), std::vector<std::string>{"DISPLAY=:3"});
  EXPECT_EQ(withKey(env, "DBUS_SESSION_BUS_ADDRESS"),
            std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=unix:path=/tmp/d/bus"});
  EXPECT_EQ(withKey(env, "AT_SPI_BUS_ADDRESS"),
            std::vector<std::string>{"AT_SPI_BUS_ADDRESS=unix:path=/tmp/d/a11y"});
  EXPECT_EQ(withKey(env, "XDG_RUNTIME_DIR"), std::vector<std::string>{"XDG_RUNTIME_DIR=/tmp/d"});
  EXPECT_EQ(withKey(env, "GDK_BACKEND"), std::vector<std::string>{"GDK_BACKEND=x11"});
  EXPECT_EQ(withKey(env, "GNOME_ACCESSIBILITY"), std::vector<std::string>{"GNOME_ACCESSIBILITY=1"});
  EXPECT_TRUE(withKey(env, "WAYLAND_DISPLAY").empty());
  EXPECT_TRUE(withKey(env, "NO_AT_BRIDGE").empty()) << "it would hide every GTK app";
  EXPECT_EQ(withKey(env, "HOME"), std::vector<std::string>{"HOME=/home/u"});
  EXPECT_EQ(env.front(), "PATH=/usr/bin");
  EXPECT_EQ(std::count(env.begin(), env.end(), "malformed"), 0);
  EXPECT_EQ(std::count(env.begin(), env.end(), "=novalue"), 0);
}

TEST(DesktopEnvironment, NeverPassesOnAddressesItDoesNotKnowYet) {
  // While the desktop starts, and when accessibility is off, the caller's accessibility bus
  // must not stand in for this desktop's: the registry daemon would join the caller's desktop.
  std::vector<std::string> caller = {"AT_SPI_BUS_ADDRESS=unix:path=/run/user/1000/at-spi/bus",
                                     "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/1000/bus"};
  DesktopAddresses starting{":3", "", "", "/tmp/d", true};
  auto env = overlayEnvironment(caller, desktopVariables(starting), variablesToDrop(true));
  EXPECT_TRUE(withKey(env, "AT_SPI_BUS_ADDRESS").empty());
  EXPECT_TRUE(withKey(env, "DBUS_SESSION_BUS_ADDRESS").empty());

  DesktopAddresses plain{":3", "unix:path=/tmp/d/bus", "", "/tmp/d", false};
  env = overlayEnvironment(caller, desktopVariables(plain), variablesToDrop(false));
  EXPECT_TRUE(withKey(env, "AT_SPI_BUS_ADDRESS").empty());
  EXPECT_EQ(withKey(env, "NO_AT_BRIDGE"), std::vector<std::string>{"NO_AT_BRIDGE=1"});
  EXPECT_TRUE(withKey(env, "GNOME_ACCESSIBILITY").empty());
}

}  // namespace
}  // namespace tavren::headless
