#include <gtest/gtest.h>

#include "apps/app_resolution.h"
#include "platform/fake/fake_desktop.h"

namespace tavren {
namespace {

using Records = std::vector<AppIdentityRecord>;

const Records kRecords = {
    {"com.apple.Safari", "Safari", "/Applications/Safari.app", true},   // 0
    {"", "com.apple.Safari", "", true},                                // 1: a name shaped like an id
    {"x.code", "Code", "/Applications/Code.app", true},                // 2
    {"x.code", "Code", "/Users/u/Code.app", true},                     // 3
    {"", "Helper", "", false},                                         // 4
    {"org.example.Helper", "Helper", "/opt/helper", true},             // 5
    {"", "Notes", "/opt/Notes.app2", true},                            // 6
    {"", "Safari", "", true},                                          // 7: merely named Safari
};

std::vector<size_t> match(std::string_view q) { return matchingAppIdentityIndexes(q, kRecords); }

TEST(AppMatching, IdentifiersOnlyForIdShapedQueries) {
  EXPECT_EQ(match("com.apple.Safari"), (std::vector<size_t>{0}));  // never the app *named* so
  EXPECT_EQ(match("COM.APPLE.SAFARI"), (std::vector<size_t>{0}));
  EXPECT_TRUE(match("com.apple.Mail").empty());
  EXPECT_TRUE(match("   ").empty());
  EXPECT_TRUE(match("").empty());
}

TEST(AppMatching, NamesAndBundleFiles) {
  // safari: the name Safari (twice) and the bundle file Safari.app; both regular with an id? Only
  // record 0 has an id, so it is the primary one.
  EXPECT_EQ(match("safari"), (std::vector<size_t>{0}));
  EXPECT_EQ(match(" Safari \n"), (std::vector<size_t>{0}));
  // Safari.app is id-shaped and file-shaped: no id equals it, so the bundle stem decides; the
  // apps merely named Safari do not match the whole query "safari.app".
  EXPECT_EQ(match("Safari.app"), (std::vector<size_t>{0}));
  // A regular app with an id wins over a background process of the same name.
  EXPECT_EQ(match("Helper"), (std::vector<size_t>{5}));
  // Two regular apps with the same name stay ambiguous.
  EXPECT_EQ(match("code"), (std::vector<size_t>{2, 3}));
}

TEST(AppMatching, PathsCompareExactly) {
  EXPECT_EQ(match("/Applications/Safari.app/"), (std::vector<size_t>{0}));
  EXPECT_TRUE(match("/applications/safari.app").empty());
  EXPECT_EQ(match("/Users/u/Code.app"), (std::vector<size_t>{3}));
}

TEST(AppMatching, ExecutableOwnershipNeedsTheSlash) {
  EXPECT_TRUE(appOwnsExecutablePath("/Applications/Foo.app", "/Applications/Foo.app/bin/helper"));
  EXPECT_FALSE(appOwnsExecutablePath("/Applications/Foo.app", "/Applications/Foo.app2/helper"));
  EXPECT_FALSE(appOwnsExecutablePath("", "/usr/bin/x"));
  EXPECT_FALSE(appOwnsExecutablePath("/opt/a", "/opt/a"));
}

TEST(AppMatching, AmbiguityMessageListsEveryCandidate) {
  AppInfo a{412, "x.code", "Code", "/Applications/Code.app", "", true, 0};
  AppInfo b{977, "x.code", "Code", "/Users/u/Code.app", "", true, 0};
  ServiceError e = ambiguousAppError("Code", {a, b});
  EXPECT_EQ(e.code, 28);
  EXPECT_EQ(e.message,
            "COMPUTER_APP_IDENTITY_AMBIGUOUS: Code. Choose an exact bundle ID, path or observed "
            "PID: x.code \xC2\xB7 /Applications/Code.app \xC2\xB7 pid=412; x.code \xC2\xB7 "
            "/Users/u/Code.app \xC2\xB7 pid=977");
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
  EXPECT_EQ(std::get<ServiceError>(r).message.rfind("COMPUTER_APP_IDENTITY_AMBIGUOUS: org.example.suite. ", 0), 0u);
}

TEST_F(AppFromParamsTest, PidOutsideThirtyTwoBitsIsRefused) {
  auto r = appFromParams({{"pid", 3e9}, {"app", "Suite"}}, desktop);
  ASSERT_TRUE(std::holds_alternative<ServiceError>(r));
  EXPECT_EQ(std::get<ServiceError>(r).message.rfind("INVALID_PARAMETER: ", 0), 0u);
}

}  // namespace
}  // namespace tavren
