// "axTree" on the in-memory desktop: limits, roots, scope, paths and redaction.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "accessibility/tree_request.h"
#include "accessibility/tree_snapshot.h"
#include "server/dispatcher.h"
#include "platform/fake/fake_desktop.h"
#include "support/service_fixture.h"

namespace tavren {
namespace {

class AxTreeTest : public ::testing::Test {
 protected:
  AxTreeTest() : desktop(FakeDesktop::fromFile(testing::fixturePath("accessibility_tree.json"))) {}

  Json tree(int32_t pid, const Json& params) {
    return nativeAXTree(*desktop->application(pid), params, desktop->accessibility(), *desktop);
  }
  static std::vector<std::string> paths(const Json& result) {
    std::vector<std::string> out;
    for (const Json& row : result["elements"]) out.push_back(row["path"]);
    return out;
  }
  static const Json* row(const Json& result, const std::string& path) {
    for (const Json& r : result["elements"]) {
      if (r["path"] == path) return &r;
    }
    return nullptr;
  }

  std::unique_ptr<FakeDesktop> desktop;
};

TEST(TreeLimits, ClampAndTruncateEveryInput) {
  auto limits = [](const Json& params) {
    TreeLimits l = treeLimits(params);
    return std::pair{l.maxElements, l.maxDepth};
  };
  EXPECT_EQ(limits(Json::object()), (std::pair<size_t, size_t>{1, 1}));
  EXPECT_EQ(limits({{"maxElements", 5000}, {"maxDepth", 100}}), (std::pair<size_t, size_t>{2000, 30}));
  EXPECT_EQ(limits({{"maxElements", 2.9}, {"maxDepth", 0.5}}), (std::pair<size_t, size_t>{2, 1}));
  EXPECT_EQ(limits({{"maxElements", -7}, {"maxDepth", -1e300}}), (std::pair<size_t, size_t>{1, 1}));
  EXPECT_EQ(limits({{"maxElements", 1e300}, {"maxDepth", "9"}}), (std::pair<size_t, size_t>{2000, 1}));
  EXPECT_EQ(limits({{"maxElements", true}, {"maxDepth", 0}}), (std::pair<size_t, size_t>{1, 1}));
}

TEST(TreeScope, FrameToleranceTitleCaseAndOverlap) {
  auto scope = windowScope({{"window", {{"x", 100}, {"y", 200}, {"w", 800}, {"h", 600}}}});
  ASSERT_TRUE(scope && scope->frame);
  EXPECT_TRUE(windowMatchesScope(*scope, "", {101.5, 198, 802, 600}));
  EXPECT_FALSE(windowMatchesScope(*scope, "", {103, 200, 800, 600}));
  auto titled = windowScope({{"window", {{"title", "Inbox"}, {"x", 1}}}});
  ASSERT_TRUE(titled && !titled->frame);
  EXPECT_TRUE(windowMatchesScope(*titled, "INBOX", {}));
  auto empty = windowScope({{"window", {{"x", 1}, {"title", ""}}}});
  EXPECT_FALSE(windowMatchesScope(*empty, "", {}));
  EXPECT_FALSE(windowScope({{"window", "Inbox"}}));
  EXPECT_FALSE(windowScope({{"window", Json::array({1, 2})}}));

  EXPECT_TRUE(rectanglesOverlap({0, 0, 10, 10}, {9, 9, 10, 10}));
  EXPECT_FALSE(rectanglesOverlap({0, 0, 10, 10}, {10, 0, 10, 10}));  // touching edges
  EXPECT_FALSE(rectanglesOverlap({5, 5, 0, 0}, {0, 0, 10, 10}));     // no area
  EXPECT_TRUE(rectanglesOverlap({10, 10, -5, -5}, {6, 6, 1, 1}));    // negative size
}

TEST_F(AxTreeTest, DefaultsGiveOneRowAndIdentityFallsBackToTheName) {
  Json r = tree(204, Json::object());
  EXPECT_EQ(paths(r), std::vector<std::string>{"w0"});
  EXPECT_EQ(r["id"], "org.example.Plain");
  EXPECT_EQ(r["trusted"], true);
  EXPECT_EQ(r["scopeMatched"], true);
  EXPECT_EQ(r["pid"], 204);
  Json twins = tree(202, Json::object());
  EXPECT_EQ(twins["id"], "Twins");
  EXPECT_EQ(twins["name"], "Twins");
}

TEST_F(AxTreeTest, RowsArePreOrderWithinBudgetAndDepth) {
  EXPECT_EQ(paths(tree(204, {{"maxElements", 3}, {"maxDepth", 2}})),
            (std::vector<std::string>{"w0", "w0.0", "w0.0.0"}));
  EXPECT_EQ(paths(tree(204, {{"maxElements", 10}, {"maxDepth", 1}})),
            (std::vector<std::string>{"w0", "w0.0", "w0.1"}));
  EXPECT_EQ(paths(tree(204, {{"maxElements", 10}, {"maxDepth", 30}})),
            (std::vector<std::string>{"w0", "w0.0", "w0.0.0", "w0.0.0.0", "w0.1"}));
}

TEST_F(AxTreeTest, MenusThenPopupsThenWindows) {
  Json r = tree(201, {{"maxElements", 2000}, {"maxDepth", 30}});
  std::vector<std::string> p = paths(r);
  ASSERT_GE(p.size(), 6u);
  // The open menu at index 1 of the application's children comes first; the 1-point-wide
  // "Collapsed" menu does not. Pop-up 4711 holds a menu; 4712 repeats the listed menu, 4713 is
  // at layer 0, 4714 one point high, 4715 another application's, 4716 has no menu.
  EXPECT_EQ((std::vector<std::string>(p.begin(), p.begin() + 6)),
            (std::vector<std::string>{"a1", "a1.0", "p4711", "p4711.0", "w0", "w0.0"}));
  EXPECT_EQ(row(r, "a3"), nullptr);
  EXPECT_EQ(p.back(), "w1.0");  // Drafts, the second window, after every row of the first
  EXPECT_EQ((*row(r, "p4711"))["label"], "Popup");
}

TEST_F(AxTreeTest, RowsCarryTheirAttributesWithDefaults) {
  Json r = tree(201, {{"maxElements", 2000}, {"maxDepth", 30}});
  EXPECT_EQ(*row(r, "w0.0.0"), (Json{{"path", "w0.0.0"}, {"role", "AXButton"}, {"subrole", ""},
                                      {"label", "Send"}, {"valueRedacted", false}, {"value", ""},
                                      {"x", 111}, {"y", 231}, {"w", 60}, {"h", 20},
                                      {"actions", {"AXPress"}}}));
  EXPECT_EQ((*row(r, "w0.5"))["label"], "Count");   // a number title is no title
  EXPECT_EQ((*row(r, "w0.5"))["value"], "42");
  const Json& slider = *row(r, "w0.6");             // infinite and enormous extents
  EXPECT_EQ(slider["x"], 0);
  EXPECT_EQ(slider["y"], -3);
  EXPECT_EQ(slider["w"], 0);
  EXPECT_EQ(slider["h"], 3);
  EXPECT_EQ(slider["value"], "0.25");
  const Json& box = *row(r, "w0.7");
  EXPECT_EQ(box["label"], "  ");                   // rows do not skip blank titles
  EXPECT_EQ(box["value"], "1");
  EXPECT_EQ(box["actions"], Json::array());        // one entry was not a name
  EXPECT_EQ((*row(r, "w0.8"))["value"].get<std::string>().size(), 120u);
  EXPECT_EQ(row(r, "w0.10.0"), nullptr);           // unreadable children: none
}

TEST_F(AxTreeTest, SecretsAreWithheldAndNeverRead) {
  Json r = tree(201, {{"maxElements", 2000}, {"maxDepth", 30}});
  // w0.11: a blank title would be the row's label and hide the description "Password".
  EXPECT_EQ((*row(r, "w0.11"))["label"], "   ");
  // w0.12: a combo box "One-time code" and its unlabelled entry; w0.13: a spin button.
  for (const char* path : {"w0.1", "w0.2", "w0.3", "w0.9", "w0.11", "w0.12", "w0.12.0", "w0.13"}) {
    EXPECT_EQ((*row(r, path))["valueRedacted"], true) << path;
    EXPECT_EQ((*row(r, path))["value"], "[protected]") << path;
  }
  EXPECT_EQ((*row(r, "w0.4"))["value"], "listed");        // "Passwords" is not the word
  EXPECT_EQ((*row(r, "w0.0.1"))["value"], "visible text");  // static text is never a field
  const std::string line = compactJson(r);
  for (const char* secret : {"123456", "s3cret-pin", "999111", "code-zh", "blank-title-secret",
                             "otp-777", "424242"}) {
    EXPECT_EQ(line.find(secret), std::string::npos) << secret;
  }
  for (const std::string& title : desktop->fakeAccessibility().valueReads()) {
    EXPECT_TRUE(title != "Verification code" && title != "PIN" && title != "\xE8\xAF\xB7\xE8\xBE\x93\xE5\x85\xA5\xE9\xAA\x8C\xE8\xAF\x81\xE7\xA0\x81")
        << title << " was read";
  }
}

TEST_F(AxTreeTest, ScopedSnapshots) {
  Json framed = tree(201, {{"maxElements", 2000}, {"maxDepth", 30},
                           {"window", {{"x", 100}, {"y", 200}, {"w", 800}, {"h", 600}}}});
  EXPECT_EQ(framed["scopeMatched"], true);
  std::vector<std::string> p = paths(framed);
  // The menu overlaps Inbox; the pop-up at (500, 500) does too; Drafts is not visited.
  EXPECT_EQ(p.front(), "a1");
  EXPECT_NE(row(framed, "p4711"), nullptr);
  EXPECT_EQ(row(framed, "w1"), nullptr);

  Json elsewhere = tree(201, {{"maxElements", 50},
                              {"window", {{"x", 5000}, {"y", 5000}, {"w", 10}, {"h", 10}}}});
  EXPECT_EQ(elsewhere["scopeMatched"], false);
  EXPECT_EQ(elsewhere["elements"], Json::array());

  Json titled = tree(201, {{"maxElements", 50}, {"window", {{"title", "drafts"}}}});
  EXPECT_EQ(titled["scopeMatched"], true);
  EXPECT_EQ(paths(titled).back(), "w1.0");
  EXPECT_EQ(paths(titled).front(), "a1");  // title mode: no overlap test

  Json twins = tree(202, {{"maxElements", 50}, {"window", {{"title", "Inbox"}}}});
  EXPECT_EQ(twins["scopeMatched"], false);
  EXPECT_EQ(twins["elements"], Json::array());
  EXPECT_EQ(tree(202, {{"window", 7}})["scopeMatched"], true);
}

TEST_F(AxTreeTest, AnApplicationThatStopsAnsweringMidReadGivesDefaults) {
  Json r = tree(203, {{"maxElements", 50}, {"maxDepth", 5}});
  ASSERT_EQ(paths(r), (std::vector<std::string>{"w0", "w0.0"}));
  for (const Json& row : r["elements"]) {
    EXPECT_EQ(row["x"], 0);
    EXPECT_EQ(row["value"], "");
    EXPECT_EQ(row["actions"], Json::array());
  }
}

TEST_F(AxTreeTest, ThroughTheDispatcher) {
  int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  {
    Service service(*desktop, devNull);
    auto run = [&](const Json& params) {
      return handle(service, {{"id", "t"}, {"version", 1}, {"method", "axTree"}, {"params", params}});
    };
    Outcome none = run({{"app", "Nothing"}});
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error().code, 11);
    EXPECT_EQ(none.error().message, "No matching running app");
    EXPECT_FALSE(run({{"pid", 4242}}).ok());
    Outcome mail = run({{"app", "mail"}, {"maxElements", 2}});
    ASSERT_TRUE(mail.ok());
    EXPECT_EQ(paths(mail.value()), (std::vector<std::string>{"a1", "a1.0"}));
  }
  close(devNull);
}

TEST_F(AxTreeTest, ParallelSnapshotsAgree) {
  const Json limits = {{"maxElements", 2000}, {"maxDepth", 30}};
  const Json expected = tree(201, limits);
  std::vector<Json> results(8);
  std::vector<std::thread> threads;
  for (Json& result : results) threads.emplace_back([&] { result = tree(201, limits); });
  for (std::thread& t : threads) t.join();
  for (const Json& result : results) EXPECT_EQ(result, expected);
}

TEST(AxTreeUntrusted, WithoutPermissionNothingIsRead) {
  FakeDesktop desktop(Json::parse(R"({"capabilities": {"accessibility": false},
      "apps": [{"pid": 7, "name": "Seven"}],
      "accessibility": {"7": {"children": [{"role": "AXWindow", "title": "W"}]}}})"));
  Json r = nativeAXTree(*desktop.application(7), {{"maxElements", 10}}, desktop.accessibility(),
                        desktop);
  EXPECT_EQ(r["trusted"], false);
  EXPECT_EQ(r["scopeMatched"], true);
  EXPECT_EQ(r["elements"], Json::array());
}

}  // namespace
}  // namespace tavren
