// "performAXAction", "setAXValue" and "selectAXText" on real applications: our act-form fixtures
// for exact cases (GTK 3 and GTK 4), gtk3-widget-factory, and the Qt 5 examples. Effects are read
// back through "axTree", or straight from AT-SPI where reading a Qt tree is not safe yet.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <thread>

#include "platform/linux/atspi/atspi_accessibility.h"
#include "support/desktop_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::call;
using testing::DesktopEnvironment;
using testing::LaunchedApps;
using testing::pidParams;
using testing::treeOnceRegistered;

const std::string kBin = TAVREN_BIN_DIR;
const std::string kQtExamples = "/usr/lib/x86_64-linux-gnu/qt5/examples/widgets/widgets/";

class Acting : public ::testing::Test {
 protected:
  void SetUp() override { service = DesktopEnvironment::startService(); }

  Json ask(const std::string& method, Json params) {
    Json r = call(*service, "r" + std::to_string(++serial), method, params.dump());
    EXPECT_EQ(r["ok"], true) << method << " " << params << " " << r;
    return r["result"];
  }
  // The tree's rows by path, once the application has registered.
  std::map<std::string, Json> rows(pid_t pid) {
    std::map<std::string, Json> out;
    for (int i = 0; i < 100 && out.empty(); ++i) {
      Json r = ask("axTree", {{"pid", pid}, {"maxElements", 2000}, {"maxDepth", 30}});
      for (const Json& row : r["elements"]) out[row["path"]] = row;
      if (out.empty()) std::this_thread::sleep_for(100ms);
    }
    return out;
  }
  // The rows once the row at `path` has `key` equal to `expected` (GTK 3 runs an action from
  // its main loop after answering), or after two seconds.
  std::map<std::string, Json> rowsOnce(pid_t pid, const std::string& path, const char* key,
                                       const Json& expected) {
    std::map<std::string, Json> out;
    for (int i = 0; i < 40; ++i) {
      out = rows(pid);
      if (out[path][key] == expected) break;
      std::this_thread::sleep_for(50ms);
    }
    return out;
  }
  // Asks until the answer's status is no longer "not-found" (the application registers with
  // the accessibility bus a little after its window shows).
  Json once(const std::string& method, const Json& params) {
    Json r;
    for (int i = 0; i < 100; ++i) {
      r = ask(method, params);
      if (r["status"] != "not-found") break;
      std::this_thread::sleep_for(100ms);
    }
    return r;
  }

  std::unique_ptr<ServiceProcess> service;
  int serial = 0;
};

TEST_F(Acting, FixtureFormEveryStatus) {
  LaunchedApps apps;
  const std::string secret = "Tr0ub4dor-Secret";
  const pid_t pid = apps.start({kBin + "/tavren-fixture-act-form", secret}, "Tavren Act");
  auto at = [&](const char* path) { return Json{{"pid", pid}, {"path", path}}; };
  auto with = [](Json p, const Json& more) {
    p.update(more);
    return p;
  };

  // A press fires the button; its effect shows in the tree.
  Json pressed = once("performAXAction", with(at("w0.0.0"), {{"action", "AXPress"}}));
  EXPECT_EQ(pressed["status"], "ok") << pressed;
  EXPECT_GT(pressed["box"]["w"], 0);
  auto tree = rowsOnce(pid, "w0.0.1", "label", "Pressed 1");
  EXPECT_EQ(tree["w0.0.1"]["label"], "Pressed 1");
  EXPECT_EQ(tree["w0.0.2"]["value"], "0");
  EXPECT_EQ(ask("performAXAction", with(at("w0.0.2"), {{"action", "AXPress"}}))["status"], "ok");
  EXPECT_EQ(ask("performAXAction", with(at("w0.0.0"), {{"action", "axpress"}}))["status"],
            "unsupported");
  EXPECT_EQ(ask("performAXAction", with(at("w0"), {{"action", "AXPress"}}))["status"],
            "unsupported");

  // Values: an entry takes text (read back), a label does not, a password is never echoed.
  EXPECT_EQ(ask("setAXValue", with(at("w0.0.3"), {{"value", "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80"}})),
            (Json{{"status", "ok"}}));
  EXPECT_EQ(ask("setAXValue", with(at("w0.0.4"), {{"value", "x"}})),
            (Json{{"status", "unsupported"}, {"posted", false}}));
  const Json secretSet = ask("setAXValue", with(at("w0.0.5"), {{"value", secret + "2"}}));
  EXPECT_EQ(secretSet, (Json{{"status", "ok"}}));
  tree = rowsOnce(pid, "w0.0.2", "value", "1");
  EXPECT_EQ(tree["w0.0.2"]["value"], "1");
  EXPECT_EQ(tree["w0.0.3"]["value"], "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80");
  EXPECT_EQ(tree["w0.0.4"]["value"], "Read only caption");
  EXPECT_EQ(tree["w0.0.5"]["value"], "[protected]");

  // Selection in the text view "😀 café word 漢字 word end" (é as e + combining mark).
  const Json notes = at("w0.0.6");
  EXPECT_EQ(ask("selectAXText", with(notes, {{"text", "word"}}))["status"], "ambiguous");
  EXPECT_EQ(ask("selectAXText", with(notes, {{"text", "words"}}))["status"], "text-not-found");
  EXPECT_EQ(ask("selectAXText", with(notes, {{"text", "word"}, {"prefix", "\xE6\xBC\xA2\xE5\xAD\x97 "}})),
            (Json{{"status", "ok"}}));
  EXPECT_EQ(ask("selectAXText", with(notes, {{"text", "word"}, {"prefix", "cafe\xCC\x81 "}})),
            (Json{{"status", "ok"}}));
  EXPECT_EQ(ask("selectAXText", with(notes, {{"text", "caf"}, {"suffix", "e\xCC\x81"},
                                             {"selectionType", "cursor_after"}})),
            (Json{{"status", "ok"}}));
  EXPECT_EQ(ask("selectAXText", with(at("w0.0.3"), {{"text", "\xF0\x9F\x98\x80"},
                                                    {"selectionType", "cursor_before"}})),
            (Json{{"status", "ok"}}));
  EXPECT_EQ(ask("selectAXText", with(at("w0.0.4"), {{"text", "only"}})),
            (Json{{"status", "unsupported"}, {"posted", false}}));
  const Json secretSelect = ask("selectAXText", with(at("w0.0.5"), {{"text", secret}}));
  EXPECT_EQ(secretSelect["status"], "text-not-found");

  // The guard refuses before anything acts.
  const Json stale = {{"expectedWindow",
                       {{"windowId", 1}, {"pid", pid}, {"x", 0}, {"y", 0}, {"w", 1}, {"h", 1}}}};
  const Json staleWindow{{"status", "stale-window"}, {"posted", false}, {"windowChanged", true}};
  EXPECT_EQ(ask("performAXAction", with(with(at("w0.0.0"), {{"action", "AXPress"}}), stale)),
            staleWindow);
  EXPECT_EQ(ask("setAXValue", with(with(at("w0.0.3"), {{"value", "no"}}), stale)), staleWindow);
  EXPECT_EQ(ask("selectAXText", with(with(notes, {{"text", "end"}}), stale)), staleWindow);
  tree = rows(pid);
  EXPECT_EQ(tree["w0.0.1"]["label"], "Pressed 1");
  EXPECT_EQ(tree["w0.0.3"]["value"], "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80");

  // Bad paths name nothing.
  for (const char* bad : {"", "garbage", "w", "w-1", "w1", "a-3", "w0.-1", "w0.0.99", "w0.0.0.0",
                          "w99999999999999999999", "w0.2147483648", "p12345"}) {
    EXPECT_EQ(ask("performAXAction", with(at(bad), {{"action", "AXPress"}})),
              (Json{{"status", "not-found"}})) << bad;
  }
  for (const std::string& answer : {secretSet.dump(), secretSelect.dump()}) {
    EXPECT_EQ(answer.find("Tr0ub4dor"), std::string::npos);
  }
}

TEST_F(Acting, ApplicationGoneBetweenTreeAndAction) {
  LaunchedApps apps;
  const pid_t pid = apps.start({kBin + "/tavren-fixture-act-form"}, "Tavren Act");
  ASSERT_FALSE(rows(pid).empty());
  // The Quit button ends the application while its press is being answered.
  const Json quit = ask("performAXAction", {{"pid", pid}, {"path", "w0.0.7"}, {"action", "AXPress"}});
  EXPECT_TRUE(quit["status"] == "ok" || quit["status"] == "error") << quit;
  for (int i = 0; i < 50 && kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(100ms);
  Json r = call(*service, "gone", "setAXValue",
                Json{{"pid", pid}, {"path", "w0.0.3"}, {"value", "x"}}.dump());
  if (r["ok"] == true) {
    EXPECT_EQ(r["result"]["status"], "not-found") << r;
  } else {
    EXPECT_EQ(r["error"], "No matching running app");
  }
  // A stopped application costs a timeout, not the service.
  const pid_t frozen = apps.start({kBin + "/tavren-fixture-act-form"}, "Tavren Act");
  ASSERT_FALSE(rows(frozen).empty());
  kill(frozen, SIGSTOP);
  Json stuck = ask("performAXAction", {{"pid", frozen}, {"path", "w0.0.0"}, {"action", "AXPress"}});
  EXPECT_NE(stuck["status"], "ok");
  kill(frozen, SIGCONT);
  EXPECT_EQ(ask("performAXAction", {{"pid", frozen}, {"path", "w0.0.0"}, {"action", "AXPress"}})["status"],
            "ok");
}

// A menu open in its own pop-up window: its 'p' path from the tree acts on the same item, and
// once the press has closed the menu the same path names nothing.
TEST_F(Acting, PopupMenuItemByItsTreePath) {
  LaunchedApps apps;
  const pid_t pid = apps.start({kBin + "/tavren-fixture-menu-bar"}, "Tavren Menu Bar");
  std::string save;
  Json row;
  for (int i = 0; i < 50 && save.empty(); ++i) {  // the menu opens shortly after the window
    for (const auto& [path, r] : rows(pid)) {
      if (path[0] == 'p' && r["label"] == "Save") {
        save = path;
        row = r;
      }
    }
    if (save.empty()) std::this_thread::sleep_for(100ms);
  }
  ASSERT_FALSE(save.empty());
  // An action it lacks answers with its box: the same element as the row.
  const Json lacking = ask("performAXAction", {{"pid", pid}, {"path", save}, {"action", "Nope"}});
  EXPECT_EQ(lacking["status"], "unsupported");
  for (const char* key : {"x", "y", "w", "h"}) EXPECT_EQ(lacking["box"][key], row[key]) << key;
  // The press closes the menu: "ok", with the box read after it (the item is no longer shown).
  const Json pressed = ask("performAXAction", {{"pid", pid}, {"path", save}, {"action", "AXPress"}});
  EXPECT_EQ(pressed["status"], "ok") << pressed;
  Json again;
  for (int i = 0; i < 50; ++i) {
    again = ask("performAXAction", {{"pid", pid}, {"path", save}, {"action", "AXPress"}});
    if (again["status"] == "not-found") break;
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(again, (Json{{"status", "not-found"}}));
}

TEST_F(Acting, WidgetFactoryCheckBoxAndEntry) {
  const pid_t pid = DesktopEnvironment::widgetFactoryPid();
  auto tree = rows(pid);
  std::string check, entry;
  for (const auto& [path, row] : tree) {
    // The factory shows its insensitive check boxes first: the last one is sensitive.
    if (row["role"] == "AXCheckBox" && row["label"] == "checkbutton" && row["subrole"] == "" &&
        (row["value"] == "0" || row["value"] == "1") && row["actions"].size() > 0 &&
        row["actions"][0] == "AXPress")
      check = path;
    if (entry.empty() && row["role"] == "AXTextField" && row["subrole"] == "" &&
        row["value"] != "[protected]")
      entry = path;
  }
  ASSERT_FALSE(check.empty());
  ASSERT_FALSE(entry.empty());
  const std::string before = tree[check]["value"];
  EXPECT_EQ(ask("performAXAction", {{"pid", pid}, {"path", check}, {"action", "AXPress"}})["status"],
            "ok");
  EXPECT_EQ(ask("setAXValue", {{"pid", pid}, {"path", entry}, {"value", "\xE6\xBC\xA2\xE5\xAD\x97 ok"}}),
            (Json{{"status", "ok"}}));
  tree = rowsOnce(pid, check, "value", before == "0" ? "1" : "0");
  EXPECT_NE(tree[check]["value"], before) << tree[check];
  EXPECT_EQ(tree[entry]["value"], "\xE6\xBC\xA2\xE5\xAD\x97 ok");
  EXPECT_EQ(ask("selectAXText", {{"pid", pid}, {"path", entry}, {"text", "ok"}}),
            (Json{{"status", "ok"}}));
}

// GTK 4 names its actions its own way and answers text calls differently (GetText to -1 gives
// nothing; AddSelection answers an int): the GTK 4 act-form, effects read back through the tree
// and the selection straight from AT-SPI.
TEST_F(Acting, Gtk4FixtureForm) {
  LaunchedApps apps;
  const pid_t pid = apps.start({kBin + "/tavren-fixture-act-form-gtk4"}, "Tavren Act 4");
  auto at = [&](const char* path) { return Json{{"pid", pid}, {"path", path}}; };
  auto with = [](Json p, const Json& more) {
    p.update(more);
    return p;
  };
  auto press = [&](const char* path) {
    return ask("performAXAction", with(at(path), {{"action", "AXPress"}}))["status"];
  };
  auto tree = rows(pid);
  ASSERT_EQ(tree["w0.0.0"]["label"], "Count");
  EXPECT_EQ(tree["w0.0.0"]["actions"], Json::array({"AXPress"}));  // "click"
  EXPECT_EQ(tree["w0.0.4"]["actions"], Json::array({"AXPress"}));  // a switch's "toggle"
  EXPECT_EQ(tree["w0.0.5"]["actions"], Json::array({"AXPress"}));  // an entry's "activate"
  EXPECT_EQ(tree["w0.0.5"]["value"], "Hello world");
  EXPECT_NE(std::ranges::find(tree["w0.0.1"]["actions"], "AXShowMenu"),
            tree["w0.0.1"]["actions"].end());  // "menu.popup"

  // Presses: a button, a switch, an expander; a check button lists no action in GTK 4.
  EXPECT_EQ(press("w0.0.0"), "ok");
  EXPECT_EQ(press("w0.0.4"), "ok");
  EXPECT_EQ(press("w0.0.9"), "ok");
  EXPECT_EQ(press("w0.0.3"), "ok");  // a toggle button is a button: "click"
  EXPECT_EQ(press("w0.0.2"), "unsupported");
  // GTK 4 shows a button pressed for a moment before it fires; a switch moves first too.
  EXPECT_EQ(rowsOnce(pid, "w0.0.1", "label", "Pressed 1")["w0.0.1"]["label"], "Pressed 1");
  EXPECT_EQ(rowsOnce(pid, "w0.0.4", "value", "1")["w0.0.4"]["value"], "1");
  EXPECT_EQ(rowsOnce(pid, "w0.0.9.0.1", "label", "Hidden detail")["w0.0.9.0.1"]["label"],
            "Hidden detail");
  // A path resolved before is checked, not trusted: once the expander has closed, the detail's
  // path names nothing.
  const Json detail = with(at("w0.0.9.0.1"), {{"action", "Nope"}});
  EXPECT_EQ(ask("performAXAction", detail)["status"], "unsupported");
  EXPECT_EQ(ask("performAXAction", detail)["status"], "unsupported");
  EXPECT_EQ(press("w0.0.9"), "ok");
  Json gone;
  for (int i = 0; i < 40; ++i) {
    gone = ask("performAXAction", detail);
    if (gone["status"] == "not-found") break;
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(gone, (Json{{"status", "not-found"}}));

  // Values: text through EditableText, a spin button's number through Value.
  EXPECT_EQ(ask("setAXValue", with(at("w0.0.5"), {{"value",
                                                   "Gr\xC3\xBC\xC3\x9F"
                                                   "e \xF0\x9F\x98\x80"}})),
            (Json{{"status", "ok"}}));
  EXPECT_EQ(ask("setAXValue", with(at("w0.0.6"), {{"value", "x"}})),
            (Json{{"status", "unsupported"}, {"posted", false}}));
  EXPECT_EQ(ask("setAXValue", with(at("w0.0.7"), {{"value", "Tr0ub4dor"}})),
            (Json{{"status", "ok"}}));
  EXPECT_EQ(ask("setAXValue", with(at("w0.0.8"), {{"value", "7"}})), (Json{{"status", "ok"}}));
  EXPECT_EQ(ask("performAXAction", with(at("w0.0.8"), {{"action", "AXIncrement"}}))["status"],
            "ok");
  tree = rowsOnce(pid, "w0.0.8", "value", "8");
  EXPECT_EQ(tree["w0.0.5"]["value"],
            "Gr\xC3\xBC\xC3\x9F"
            "e \xF0\x9F\x98\x80");
  EXPECT_EQ(tree["w0.0.6"]["value"], "Read only caption");
  EXPECT_EQ(tree["w0.0.7"]["value"], "[protected]");
  EXPECT_EQ(tree["w0.0.8"]["value"], "8");

  // Selection in the text view "😀 café word 漢字 word end": made where there was none
  // (AddSelection), then moved (SetSelection), then a caret; and in the entry.
  const Json notes = at("w0.0.10");
  EXPECT_EQ(
      ask("selectAXText", with(notes, {{"text", "word"}, {"prefix", "\xE6\xBC\xA2\xE5\xAD\x97 "}})),
      (Json{{"status", "ok"}}));
  EXPECT_EQ(ask("selectAXText", with(notes, {{"text", "caf"}, {"suffix", "e\xCC\x81"}})),
            (Json{{"status", "ok"}}));
  EXPECT_EQ(ask("selectAXText", with(notes, {{"text", "end"}, {"selectionType", "cursor_before"}})),
            (Json{{"status", "ok"}}));
  EXPECT_EQ(ask("selectAXText", with(notes, {{"text", "word"}})), (Json{{"status", "ambiguous"}}));
  EXPECT_EQ(ask("selectAXText", with(at("w0.0.5"), {{"text", "\xF0\x9F\x98\x80"}})),
            (Json{{"status", "ok"}}));
  EXPECT_EQ(ask("selectAXText", with(at("w0.0.7"), {{"text", "Tr0ub4dor"}}))["status"],
            "text-not-found");

  for (const auto& [key, value] : DesktopEnvironment::desktop().environment()) {
    setenv(key.c_str(), value.c_str(), 1);
  }
  atspi::AtspiBus bus;
  atspi::AtspiAccessibility accessibility(bus);
  const int64_t view[] = {0, 10};
  auto text = accessibility.element(pid, PathRoot::Window, 0, view);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->selection(), (TextRange{22, 0}));  // before "end"; the emoji counts two units
  const int64_t field[] = {0, 5};
  auto entry = accessibility.element(pid, PathRoot::Window, 0, field);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->selection(), (TextRange{6, 2}));
  EXPECT_EQ(kill(pid, 0), 0);
}

// Qt 5: the calculator's buttons and display, and a line edit. Effects are read straight from
// AT-SPI in process, element by element.
TEST_F(Acting, Qt5CalculatorAndLineEdit) {
  LaunchedApps apps;
  const pid_t calculator = apps.start({kQtExamples + "calculator/calculator"}, "Calculator");
  const pid_t lineEdits = apps.start({kQtExamples + "lineedits/lineedits"}, "Line Edits");
  const Json seven = {{"pid", calculator}, {"path", "a0.14"}, {"action", "AXPress"}};
  EXPECT_EQ(once("performAXAction", seven)["status"], "ok");
  EXPECT_EQ(ask("performAXAction", seven)["status"], "ok");
  EXPECT_EQ(ask("performAXAction", {{"pid", calculator}, {"path", "a0.14"}, {"action", "SetFocus"}})["status"],
            "ok");
  EXPECT_EQ(ask("setAXValue", {{"pid", calculator}, {"path", "a0.0"}, {"value", "1"}}),
            (Json{{"status", "unsupported"}, {"posted", false}}));
  const Json echo = {{"pid", lineEdits}, {"path", "a0.0.2"}};
  Json set = echo;
  set["value"] = "Hallo Qt \xF0\x9F\x98\x80 end";
  EXPECT_EQ(once("setAXValue", set), (Json{{"status", "ok"}}));
  Json select = echo;
  select.update({{"text", "end"}, {"prefix", "\xF0\x9F\x98\x80 "}});
  EXPECT_EQ(ask("selectAXText", select), (Json{{"status", "ok"}}));

  for (const auto& [key, value] : DesktopEnvironment::desktop().environment()) {
    setenv(key.c_str(), value.c_str(), 1);
  }
  atspi::AtspiBus bus;
  atspi::AtspiAccessibility accessibility(bus);
  const int64_t display[] = {0};
  auto shown = accessibility.element(calculator, PathRoot::ApplicationChild, 0, display);
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(std::get<std::string>(shown->value()), "77");
  const int64_t field[] = {0, 2};
  auto edit = accessibility.element(lineEdits, PathRoot::ApplicationChild, 0, field);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(std::get<std::string>(edit->value()), "Hallo Qt \xF0\x9F\x98\x80 end");
  EXPECT_EQ(edit->selection(), (TextRange{12, 3}));  // the emoji counts two units
  EXPECT_EQ(kill(calculator, 0), 0);
  EXPECT_EQ(kill(lineEdits, 0), 0);
}

}  // namespace
}  // namespace tavren
