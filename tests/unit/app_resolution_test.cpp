#include "apps/app_resolution.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_desktop.h"

namespace tavren {
namespace {

using Records = std::vector<AppIdentityRecord>;

// As the workspace reports them: ids from _GTK_APPLICATION_ID or the desktop entry, install
// directories empty for programs in /usr/bin and the like.
const Records kRecords = {
    {"org.gnome.Calculator", "Calculator", "", true},                       // 0
    {"", "org.gnome.Calculator", "", true},                                 // 1: an id-shaped name
    {"code", "Visual Studio Code", "/usr/share/code", true},                // 2
    {"code", "Visual Studio Code", "/home/u/apps/VSCode-linux-x64", true},  // 3
    {"", "Helper", "", false},                                              // 4
    {"org.example.Helper", "Helper", "/opt/helper", true},                  // 5
    {"firefox-esr", "Firefox ESR", "/usr/lib/firefox-esr", true},           // 6
    {"", "Calculator", "", true},                                           // 7: merely named so
    {"", "Sublime Text", "/opt/sublime_text", true},                        // 8
};

std::vector<size_t> match(std::string_view q) {
  return matchingAppIdentityIndexes(q, kRecords);
}

TEST(AppMatching, IdentifiersOnlyForIdShapedQueries) {
  EXPECT_EQ(match("org.gnome.Calculator"), (std::vector<size_t>{0}));  // never the one *named* so
  EXPECT_EQ(match("ORG.GNOME.CALCULATOR"), (std::vector<size_t>{0}));
  EXPECT_TRUE(match("org.gnome.Nautilus").empty());
  EXPECT_TRUE(match("   ").empty());
  EXPECT_TRUE(match("").empty());
}

TEST(AppMatching, NamesIdsAndInstallDirectories) {
  // Two applications are named Calculator; only one has an id, so it is the primary one.
  EXPECT_EQ(match("calculator"), (std::vector<size_t>{0}));
  EXPECT_EQ(match(" Calculator \n"), (std::vector<size_t>{0}));
  EXPECT_EQ(match("Firefox-ESR"), (std::vector<size_t>{6}));   // the desktop entry id
  EXPECT_EQ(match("sublime_text"), (std::vector<size_t>{8}));  // its install directory's name
  // A regular application with an id wins over a background process of the same name.
  EXPECT_EQ(match("Helper"), (std::vector<size_t>{5}));
  // Two installs of one application stay ambiguous, by id and by name.
  EXPECT_EQ(match("code"), (std::vector<size_t>{2, 3}));
  EXPECT_EQ(match("visual studio code"), (std::vector<size_t>{2, 3}));
}

TEST(AppMatching, PathsCompareExactly) {
  EXPECT_EQ(match("/usr/lib/firefox-esr/"), (std::vector<size_t>{6}));
  EXPECT_TRUE(match("/USR/LIB/FIREFOX-ESR").empty());
  EXPECT_TRUE(match("/usr/bin/gnome-calculator").empty());  // no install directory of its own
  EXPECT_EQ(match("/home/u/apps/VSCode-linux-x64"), (std::vector<size_t>{3}));
}

TEST(AppMatching, ExecutableOwnershipNeedsTheSlash) {
  EXPECT_TRUE(appOwnsExecutablePath("/usr/lib/firefox-esr", "/usr/lib/firefox-esr/firefox-esr"));
  EXPECT_FALSE(appOwnsExecutablePath("/usr/lib/firefox-esr", "/usr/lib/firefox-esr2/helper"));
  EXPECT_FALSE(appOwnsExecutablePath("", "/usr/bin/x"));
  EXPECT_FALSE(appOwnsExecutablePath("/opt/a", "/opt/a"));
}

TEST(AppMatching, AmbiguityMessageListsEveryCandidate) {
  AppInfo a{412, "code", "Visual Studio Code", "/usr/share/code", "", true, 0};
  AppInfo b{977, "code", "Visual Studio Code", "/home/u/apps/VSCode-linux-x64", "", true, 0};
  ServiceError e = ambiguousAppError("code", {a, b});
  EXPECT_EQ(e.code, 28);
  EXPECT_EQ(e.message,
            "COMPUTER_APP_IDENTITY_AMBIGUOUS: code. Choose an exact bundle ID, path or observed "
            "PID: code \xC2\xB7 /usr/share/code \xC2\xB7 pid=412; code \xC2\xB7 "
            "/home/u/apps/VSCode-linux-x64 \xC2\xB7 pid=977");
}

class AppFromParamsTest : public ::testing::Test {
 protected:
  AppFromParamsTest()
      : desktop(Json::parse(R"({"apps": [
          {"pid": 10, "bundleId": "org.example.Suite", "name": "Suite", "bundlePath": "/opt/suite",
           "executablePath": "/opt/suite/bin/suite"},
          {"pid": 11, "bundleId": "", "name": "suite-renderer", "bundlePath": "",
           "executablePath": "/opt/suite/libexec/renderer", "regular": false},
          {"pid": 12, "bundleId": "org.example.Suite", "name": "Suite", "bundlePath": "/home/u/suite",
           "executablePath": "/home/u/suite/bin/suite"},
          {"pid": 13, "bundleId": "", "name": "stray", "bundlePath": "",
           "executablePath": "/usr/bin/stray", "regular": false}]})")) {}

  std::optional<AppInfo> resolve(const Json& params) {
    auto r = appFromParams(params, desktop);
    EXPECT_TRUE(std::holds_alternative<std::optional<AppInfo>>(r));
    return std::holds_alternative<std::optional<AppInfo>>(r) ? std::get<0>(r) : std::nullopt;
  }

  FakeDesktop desktop;
};

TEST_F(AppFromParamsTest, PidDecidesWhenGiven) {
  EXPECT_EQ(resolve({{"pid", 12}})->pid, 12);
  EXPECT_EQ(resolve({{"pid", 12}, {"app", "  "}})->pid, 12);
  EXPECT_EQ(resolve({{"pid", 12}, {"app", "Suite"}})->pid, 12);  // ambiguous name, pid decides
  EXPECT_FALSE(resolve({{"pid", 99}, {"app", "Suite"}}));
  EXPECT_FALSE(resolve({{"pid", 13}, {"app", "/opt/suite"}}));  // not inside the bundle
}

TEST_F(AppFromParamsTest, AuxiliaryProcessInsideTheNamedBundle) {
  // The renderer lives under /opt/suite, and exactly one app with that path matches the query.
  EXPECT_EQ(resolve({{"pid", 11}, {"app", "/opt/suite"}})->pid, 11);
  // By name both suites match but only one owns the renderer's executable.
  EXPECT_EQ(resolve({{"pid", 11}, {"app", "Suite"}})->pid, 11);
}

TEST_F(AppFromParamsTest, QueryWithoutPid) {
  EXPECT_FALSE(resolve(Json::object()));
  EXPECT_FALSE(resolve({{"app", "nothing"}}));
  EXPECT_EQ(resolve({{"app", "/home/u/suite"}})->pid, 12);
  EXPECT_EQ(resolve({{"app", "stray"}, {"pid", -4}})->pid, 13);
  auto r = appFromParams({{"app", "org.example.suite"}}, desktop);
  ASSERT_TRUE(std::holds_alternative<ServiceError>(r));
  EXPECT_EQ(std::get<ServiceError>(r).message.rfind(
                "COMPUTER_APP_IDENTITY_AMBIGUOUS: org.example.suite. ", 0),
            0u);
}

TEST_F(AppFromParamsTest, PidOutsideThirtyTwoBitsIsRefused) {
  auto r = appFromParams({{"pid", 3e9}, {"app", "Suite"}}, desktop);
  ASSERT_TRUE(std::holds_alternative<ServiceError>(r));
  EXPECT_EQ(std::get<ServiceError>(r).message.rfind("INVALID_PARAMETER: ", 0), 0u);
}

}  // namespace
}  // namespace tavren
