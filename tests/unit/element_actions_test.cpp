// Acting on elements on the in-memory desktop: paths, actions, values and text selection.
#include <gtest/gtest.h>

#include "accessibility/element_actions.h"
#include "accessibility/element_paths.h"
#include "accessibility/text_selection.h"
#include "accessibility/tree_snapshot.h"
#include "server/dispatcher.h"
#include "platform/fake/fake_desktop.h"

namespace tavren {
namespace {

// One application (pid 301) with a menu bar, a form window and a pop-up menu in a raised
// window of its own; another application owns window 4715.
const char* kFixture = R"({
 "apps": [{"pid": 301, "bundleId": "org.example.Form", "name": "Form"},
          {"pid": 302, "bundleId": "org.example.Other", "name": "Other"}],
 "windows": [
  {"number": 5001, "ownerPid": 301, "layer": 0, "onScreen": true,
   "bounds": {"x": 0, "y": 0, "w": 400, "h": 300}},
  {"number": 5002, "ownerPid": 301, "layer": 101, "onScreen": true,
   "bounds": {"x": 50, "y": 50, "w": 100, "h": 80}},
  {"number": 4715, "ownerPid": 302, "layer": 101, "onScreen": true,
   "bounds": {"x": 50, "y": 50, "w": 100, "h": 80}}],
 "accessibility": {"301": {
  "children": [
   {"role": "AXMenuBar", "title": "Menus", "actions": []},
   {"role": "AXWindow", "title": "Form", "position": [0, 0], "size": [400, 300],
    "actions": ["AXRaise"], "children": [
     {"role": "AXButton", "title": "OK", "position": [10, 10], "size": [80, 30],
      "actions": ["AXPress"]},
     {"role": "AXCheckBox", "title": "Remember", "value": 0, "actions": ["AXPress"]},
     {"role": "AXTextField", "title": "Name", "value": "Hello world", "settable": true,
      "selectable": true, "actions": []},
     {"role": "AXStaticText", "title": "Caption", "value": "Read only", "actions": []},
     {"role": "AXTextField", "subrole": "AXSecureTextField", "title": "Password",
      "value": "hunter2", "settable": true, "selectable": true},
     {"role": "AXButton", "title": "Broken", "actions": ["AXPress"],
      "actionErrors": {"AXPress": -25204}},
     {"role": "AXTextField", "title": "Stubborn", "value": "Hello world", "selectable": true,
      "selectionReported": [3, 1]},
     {"role": "AXButton", "title": "Gone", "gone": true, "actions": ["AXPress"]},
     {"role": "AXTextField", "title": "Locked", "value": "abc", "settableError": -25204},
     {"role": "AXTextField", "title": "Failing", "value": "x", "settable": true,
      "setError": -25200, "selectable": true, "selectionError": -25200},
     {"role": "AXTextField", "title": "Number", "value": 7, "selectable": true}]}],
  "popups": [
   {"role": "AXMenu", "title": "Popup", "position": [50, 50], "size": [100, 80], "children": [
     {"role": "AXMenuItem", "title": "Copy", "position": [50, 50], "size": [100, 40],
      "actions": ["AXPress"]}]}]}}
})";

class ElementActionsTest : public ::testing::Test {
 protected:
  ElementActionsTest() : desktop(std::make_unique<FakeDesktop>(Json::parse(kFixture))) {}

  AppInfo form() { return *desktop->application(301); }
  Json perform(const std::string& path, const std::string& action, Json more = Json::object()) {
    more["path"] = path;
    more["action"] = action;
    return performNativeAXAction(form(), more, desktop->accessibility(), *desktop);
  }
  Json setValue(const std::string& path, const Json& value, Json more = Json::object()) {
    more["path"] = path;
    more["value"] = value;
    return setNativeAXValue(form(), more, desktop->accessibility(), *desktop);
  }
  Json select(Json params) {
    return selectNativeAXText(form(), params, desktop->accessibility(), *desktop);
  }
  // The value a tree read now shows for the row with this path.
  Json treeValue(const std::string& path) {
    Json tree = nativeAXTree(form(), {{"maxElements", 100}, {"maxDepth", 5}},
                             desktop->accessibility(), *desktop);
    for (const Json& row : tree["elements"]) {
      if (row["path"] == path) return row["value"];
    }
    return nullptr;
  }
  std::vector<std::string> acts() { return desktop->fakeAccessibility().acts(); }
  // A guard that no longer matches: the window moved.
  static Json movedWindow() {
    return {{"expectedWindow",
             {{"windowId", 5001}, {"pid", 301}, {"x", 5}, {"y", 0}, {"w", 400}, {"h", 300}}}};
  }

  std::unique_ptr<FakeDesktop> desktop;
};

TEST(ElementPaths, Syntax) {
  using P = ElementPath;
  EXPECT_EQ(parsedElementPath("w0"), (P{'w', 0, {}}));
  EXPECT_EQ(parsedElementPath(".w0..2."), (P{'w', 0, {2}}));
  EXPECT_EQ(parsedElementPath("w+1.+3"), (P{'w', 1, {3}}));
  EXPECT_EQ(parsedElementPath("a2.-1"), (P{'a', 2, {-1}}));
  EXPECT_EQ(parsedElementPath("p4294967295.0"), (P{'p', 4294967295, {0}}));
  EXPECT_EQ(parsedElementPath("w9223372036854775807"), (P{'w', INT64_MAX, {}}));
  for (const char* bad : {"", ".", "..", "x0", "W0", "w", "p", "w 0", " w0", "w0.abc", "w0. 1",
                          "w0x1", "w1e3", "w--1", "w+-1", "w+", "w0.-", "p-1", "p4294967296",
                          "w9223372036854775808", "w0.99999999999999999999", "w٣"}) {
    EXPECT_FALSE(parsedElementPath(bad)) << bad;
  }
}

TEST_F(ElementActionsTest, PathsNameWhatTheTreeNames) {
  // Every path the tree writes acts on that row's element.
  EXPECT_EQ(perform("w0.0", "AXPress")["status"], "ok");
  EXPECT_EQ(perform(".w0..0.", "AXPress")["status"], "ok");
  EXPECT_EQ(perform("a1.0", "AXPress")["status"], "ok");
  EXPECT_EQ(perform("w+0.+0", "AXPress")["status"], "ok");
  EXPECT_EQ(perform("p5002.0", "AXPress")["status"], "ok");
  EXPECT_EQ(acts(), (std::vector<std::string>{"AXPress OK", "AXPress OK", "AXPress OK",
                                              "AXPress OK", "AXPress Copy"}));
  EXPECT_EQ(perform("w0", "AXRaise")["status"], "ok");
  EXPECT_EQ(perform("a0", "AXRaise")["status"], "unsupported");  // the menu bar

  for (const char* missing :
       {"", "x0", "w", "w-1", "w 0", "w0.abc", "w0.99", "w1", "a2", "w0.-1", "w0.0.0",
        "w99999999999999999999", "w0.9223372036854775807", "p5001", "p4715", "p5002.1", "p7"}) {
    EXPECT_EQ(perform(missing, "AXPress"), (Json{{"status", "not-found"}})) << missing;
    EXPECT_EQ(setValue(missing, "x"), (Json{{"status", "not-found"}})) << missing;
    EXPECT_EQ(select({{"path", missing}, {"text", "o"}}), (Json{{"status", "not-found"}}))
        << missing;
  }
  EXPECT_EQ(acts().size(), 6u);

  // The application quit after its tree was read.
  const AppInfo app = form();
  desktop->quit(301);
  EXPECT_EQ(performNativeAXAction(app, {{"path", "w0.0"}, {"action", "AXPress"}},
                                  desktop->accessibility(), *desktop)["status"],
            "not-found");
}

TEST_F(ElementActionsTest, PerformStatuses) {
  EXPECT_EQ(perform("w0.0", "AXPress"),
            (Json{{"status", "ok"}, {"box", {{"x", 10}, {"y", 10}, {"w", 80}, {"h", 30}}}}));
  // A press fires the element's action: the check box's value flips, as a tree reads it.
  EXPECT_EQ(treeValue("w0.1"), "0");
  EXPECT_EQ(perform("w0.1", "AXPress")["status"], "ok");
  EXPECT_EQ(treeValue("w0.1"), "1");

  const Json box{{"x", 10}, {"y", 10}, {"w", 80}, {"h", 30}};
  EXPECT_EQ(perform("w0.0", ""), (Json{{"status", "unsupported"}, {"box", box}}));
  EXPECT_EQ(perform("w0.0", "axpress"), (Json{{"status", "unsupported"}, {"box", box}}));
  EXPECT_EQ(perform("w0.0", "AXShowMenu")["status"], "unsupported");
  EXPECT_EQ(perform("w0.5", "AXPress"), (Json{{"status", "error"}, {"code", -25204}}));
  // Gone between finding and acting: nothing to perform, and a box of zeros.
  EXPECT_EQ(perform("w0.7", "AXPress"),
            (Json{{"status", "unsupported"},
                  {"box", {{"x", 0}, {"y", 0}, {"w", 0}, {"h", 0}}}}));

  EXPECT_EQ(perform("w0.0", "AXPress", movedWindow()),
            (Json{{"status", "stale-window"}, {"posted", false}, {"windowChanged", true}}));
  EXPECT_EQ(acts(), (std::vector<std::string>{"AXPress OK", "AXPress Remember"}));
}

TEST_F(ElementActionsTest, SetValueStatuses) {
  EXPECT_EQ(setValue("w0.2", "Bonjour"), (Json{{"status", "ok"}}));
  EXPECT_EQ(treeValue("w0.2"), "Bonjour");
  EXPECT_EQ(setValue("w0.2", 42), (Json{{"status", "ok"}}));  // not a string: ""
  EXPECT_EQ(treeValue("w0.2"), "");
  EXPECT_EQ(acts(), (std::vector<std::string>{"focus Name", "value Name", "focus Name",
                                              "value Name"}));

  EXPECT_EQ(setValue("w0.3", "x"), (Json{{"status", "unsupported"}, {"posted", false}}));
  EXPECT_EQ(setValue("w0.8", "x"),
            (Json{{"status", "error"}, {"code", -25204}, {"posted", false}}));
  EXPECT_EQ(setValue("w0.9", "x"), (Json{{"status", "error"}, {"code", -25200}}));
  EXPECT_EQ(setValue("w0.7", "x"),
            (Json{{"status", "error"}, {"code", -25202}, {"posted", false}}));
  EXPECT_EQ(setValue("w0.2", "late", movedWindow()),
            (Json{{"status", "stale-window"}, {"posted", false}, {"windowChanged", true}}));
  // Neither the refused nor the failed writes focused anything but the field that fails late.
  EXPECT_EQ(acts().size(), 5u);
  EXPECT_EQ(acts().back(), "focus Failing");
}

TEST_F(ElementActionsTest, PasswordsAreWrittenButNeverRead) {
  const std::string secret = "correct horse";
  const Json set = setValue("w0.4", secret);
  EXPECT_EQ(set, (Json{{"status", "ok"}}));
  for (const Json& answer : {set, select({{"path", "w0.4"}, {"text", "horse"}}),
                             select({{"path", "w0.4"}, {"text", "hunter2"}})}) {
    EXPECT_EQ(answer.dump().find("horse"), std::string::npos);
    EXPECT_EQ(answer.dump().find("hunter"), std::string::npos);
  }
  // Selection in a secret field cannot be used to guess it: its text is never searched.
  EXPECT_EQ(select({{"path", "w0.4"}, {"text", "horse"}})["status"], "text-not-found");
  EXPECT_EQ(treeValue("w0.4"), "[protected]");
  const auto reads = desktop->fakeAccessibility().valueReads();
  EXPECT_EQ(std::count(reads.begin(), reads.end(), "Password"), 0);
  for (const std::string& act : acts()) EXPECT_EQ(act.find("horse"), std::string::npos);
}

TEST(TextOccurrences, FindingRules) {
  using V = std::vector<int64_t>;
  EXPECT_EQ(fittingOccurrences("Hello world", "o", "", ""), (V{4, 7}));
  EXPECT_EQ(fittingOccurrences("Hello world", "o", "", " w"), (V{4}));
  EXPECT_EQ(fittingOccurrences("Hello world", "o", "w", ""), (V{7}));
  EXPECT_EQ(fittingOccurrences("aaa", "aa", "a", ""), V{});  // next search starts at 2
  EXPECT_EQ(fittingOccurrences("aaaa", "aa", "", ""), (V{0, 2}));
  EXPECT_EQ(fittingOccurrences("ab", "b", "xa", ""), V{});   // prefix longer than what precedes
  EXPECT_EQ(fittingOccurrences("ab", "a", "", "bc"), V{});   // suffix runs past the end
  EXPECT_EQ(fittingOccurrences("Straße", "Straße", "", ""), (V{0}));
  EXPECT_EQ(fittingOccurrences("Straße", "STRASSE", "", ""), V{});
  EXPECT_EQ(fittingOccurrences("", "", "", ""), V{});
  EXPECT_EQ(fittingOccurrences("abc", "", "", ""), V{});
  // UTF-16 units: an emoji is two, a combining mark one, a CJK character one.
  EXPECT_EQ(fittingOccurrences("\xF0\x9F\x98\x80" "ab", "a", "", ""), (V{2}));
  EXPECT_EQ(fittingOccurrences("e\xCC\x81x \xE6\xBC\xA2\xE5\xAD\x97x", "x", "", ""), (V{2, 6}));
  // Prefix and suffix up to canonical equivalence; the text itself exactly.
  EXPECT_EQ(fittingOccurrences("caf\xC3\xA9!", "!", "cafe\xCC\x81", ""), V{});  // lengths differ
  EXPECT_EQ(fittingOccurrences("\xC3\xA9" "x", "x", "\xC3\xA9", ""), (V{1}));
  EXPECT_EQ(fittingOccurrences("e\xCC\x81" "x", "x", "e\xCC\x81", ""), (V{2}));
  EXPECT_EQ(fittingOccurrences("\xE2\x84\xABx", "x", "\xC3\x85", ""), (V{1}));  // Å sign ~ Å
  EXPECT_EQ(fittingOccurrences("\xE2\x84\xAB", "\xC3\x85", "", ""), V{});
  EXPECT_EQ(utf16Length("\xF0\x9F\x98\x80" "e\xCC\x81\xE6\xBC\xA2"), 5);
}

TEST_F(ElementActionsTest, SelectionStatuses) {
  auto selectIn = [&](const char* path, Json more) {
    more["path"] = path;
    return select(more);
  };
  EXPECT_EQ(selectIn("w0.2", {{"text", "o"}}), (Json{{"status", "ambiguous"}}));
  EXPECT_EQ(selectIn("w0.2", {{"text", "o"}, {"suffix", " w"}, {"selectionType", "cursor_after"}}),
            (Json{{"status", "ok"}}));
  EXPECT_EQ(selectIn("w0.2", {{"text", "world"}}), (Json{{"status", "ok"}}));
  EXPECT_EQ(selectIn("w0.2", {{"text", "world"}, {"selectionType", "cursor_before"}}),
            (Json{{"status", "ok"}}));
  EXPECT_EQ(selectIn("w0.2", {{"text", "world"}, {"selectionType", 5}}), (Json{{"status", "ok"}}));
  EXPECT_EQ(acts(), (std::vector<std::string>{"focus Name", "select Name 5 0", "focus Name",
                                              "select Name 6 5", "focus Name", "select Name 6 0",
                                              "focus Name", "select Name 6 5"}));

  EXPECT_EQ(selectIn("w0.2", {}), (Json{{"status", "text-not-found"}}));
  EXPECT_EQ(selectIn("w0.2", {{"text", "World"}}), (Json{{"status", "text-not-found"}}));
  EXPECT_EQ(selectIn("w0.10", {{"text", "7"}}), (Json{{"status", "text-not-found"}}));
  EXPECT_EQ(selectIn("w0.3", {{"text", "Read"}}),
            (Json{{"status", "unsupported"}, {"posted", false}}));
  EXPECT_EQ(selectIn("w0.2", {{"text", "world"}, {"expectedWindow", movedWindow()["expectedWindow"]}}),
            (Json{{"status", "stale-window"}, {"posted", false}, {"windowChanged", true}}));
  const size_t before = acts().size();
  EXPECT_EQ(selectIn("w0.9", {{"text", "x"}}), (Json{{"status", "error"}, {"code", -25200}}));
  EXPECT_EQ(acts().size(), before + 1);  // focused, then the write failed

  // The element keeps reporting another range: after the confirmation time, that range.
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(selectIn("w0.6", {{"text", "world"}}),
            (Json{{"status", "mismatch"}, {"location", 3}, {"length", 1}}));
  const auto took = std::chrono::steady_clock::now() - began;
  EXPECT_GE(took, std::chrono::milliseconds(290));
}

TEST_F(ElementActionsTest, DispatcherRowsAndGuard) {
  for (const char* method : {"performAXAction", "setAXValue", "selectAXText"}) {
    const MethodRow* row = findMethod(method);
    ASSERT_NE(row, nullptr) << method;
    EXPECT_EQ(row->noAppCode, std::string(method) == "performAXAction" ? 12 : 13);
  }
}

}  // namespace
}  // namespace tavren
