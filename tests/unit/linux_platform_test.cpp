#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace tavren {
namespace {

// Sets environment variables for one test and puts the old values back.
class ScopedEnv {
 public:
  void set(const char* name, const char* value) {
    const char* old = getenv(name);
    saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

void expectNoDesktop(Platform& platform) {
  const Capabilities& c = platform.capabilities();
  EXPECT_FALSE(c.display);
  EXPECT_FALSE(c.syntheticInput);
  EXPECT_FALSE(c.windowPixmaps);
  EXPECT_FALSE(c.clientPids);
  EXPECT_FALSE(c.windowManager);
  EXPECT_FALSE(c.accessibility);
  EXPECT_TRUE(platform.windowServer().windows().empty());
  EXPECT_FALSE(platform.windowServer().window(0x400007));
  EXPECT_TRUE(platform.workspace().runningApplications().empty());
  EXPECT_FALSE(platform.workspace().application(getpid()));
  EXPECT_EQ(platform.workspace().executablePath(-1), "");
}

TEST(LinuxPlatform, WithoutDisplayOrBusesEverythingIsEmpty) {
  ScopedEnv env;
  env.set("DISPLAY", nullptr);
  env.set("DBUS_SESSION_BUS_ADDRESS", nullptr);
  env.set("AT_SPI_BUS_ADDRESS", nullptr);
  auto platform = makeLinuxPlatform();
  ASSERT_TRUE(platform);
  expectNoDesktop(*platform);
  // The process's own executable is readable with or without a desktop.
  EXPECT_EQ(platform->workspace().executablePath(getpid()).front(), '/');
}

TEST(LinuxPlatform, UnreachableDisplayAndBusesAreMissingNotFatal) {
  ScopedEnv env;
  env.set("DISPLAY", ":32767");
  env.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tavren-test-bus");
  env.set("AT_SPI_BUS_ADDRESS", "unix:path=/nonexistent/tavren-test-a11y");
  auto platform = makeLinuxPlatform();
  ASSERT_TRUE(platform);
  expectNoDesktop(*platform);
}

TEST(LinuxPlatform, EmptyListsFromManyThreadsAtOnce) {
  ScopedEnv env;
  env.set("DISPLAY", nullptr);
  env.set("DBUS_SESSION_BUS_ADDRESS", nullptr);
  env.set("AT_SPI_BUS_ADDRESS", "not an address");
  auto platform = makeLinuxPlatform();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(platform->windowServer().windows().empty());
        EXPECT_TRUE(platform->workspace().runningApplications().empty());
      }
    });
  }
  for (auto& thread : threads) thread.join();
}

}  // namespace
}  // namespace tavren
