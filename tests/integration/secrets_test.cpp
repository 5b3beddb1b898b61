// A password put into a password field of GTK 3 and of Qt 5 by every way the service offers
// (typed as remote desktop text, posted key by key, set as a value, pasted from a restored
// clipboard), then the tree read, the field searched, windows listed, receipts taken and the
// typing recorded: no line the service writes holds the password, raw or in any JSON escape of
// its non-ASCII letter.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <thread>

#include "platform/linux/atspi/atspi_accessibility.h"
#include "support/desktop_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::DesktopEnvironment;

constexpr const char* kSecret =
    "hunter2-\xC3\x9F"
    "ecret";
// Typed with posted keys, which have no key for the sharp s.
constexpr const char* kTypedPart = "hunter2-";
// Each form the password or a telling part of it could take on a line.
const char* const kForbidden[] = {kSecret,
                                  "hunter2",
                                  "\xC3\x9F"
                                  "ecret",
                                  "\\u00df"
                                  "ecret",
                                  "\\u00DF"
                                  "ecret",
                                  "\\u00c3\\u009f",
                                  "\\u00C3\\u009F"};

const std::string kQtLineEdits =
    "/usr/lib/x86_64-linux-gnu/qt5/examples/widgets/widgets/lineedits/lineedits";
const std::string kLoginForm = std::string(TAVREN_BIN_DIR) + "/tavren-fixture-login-form";
const std::string kClipboardSource =
    std::string(TAVREN_BIN_DIR) + "/tavren-fixture-clipboard-source";

// Requests through one service, keeping every line it answers as written.
class Session {
 public:
  explicit Session(ServiceProcess& service) : service_(service) {}

  Json call(const std::string& method, const Json& params = Json::object()) {
    const std::string id = "s" + std::to_string(++sent_);
    service_.send(requestLine(id, method, params.dump()));
    std::optional<std::string> line = service_.responseFor(id, testing::kReplyTimeout);
    EXPECT_TRUE(line) << "no answer to " << method;
    if (!line) return Json();
    responses_.push_back(*line);
    Json response = Json::parse(*line, nullptr, false);
    EXPECT_EQ(response.value("ok", false), true) << method << ": " << *line;
    return response.value("result", Json());
  }

  // Every line written so far: the answers, then the unsolicited ones, after a quiet moment
  // that lets the last events arrive.
  std::vector<std::string> written() {
    while (service_.readLine(200ms)) {
    }
    std::vector<std::string> all = responses_;
    all.insert(all.end(), service_.otherLines().begin(), service_.otherLines().end());
    return all;
  }

 private:
  ServiceProcess& service_;
  int sent_ = 0;
  std::vector<std::string> responses_;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The field's text as the form reports it, once it reads `expected` or after five seconds.
std::string fieldText(const std::string& report, const std::string& expected) {
  std::string now;
  for (int i = 0; i < 250; ++i) {
    now = readFile(report);
    if (now == expected) break;
    std::this_thread::sleep_for(20ms);
  }
  return now;
}

// The path of the first secure text field of the tree.
std::string passwordPath(const Json& tree) {
  for (const Json& row : tree.value("elements", Json::array())) {
    if (row.value("subrole", "") == "AXSecureTextField" ||
        row.value("role", "") == "AXSecureTextField") {
      return row.value("path", "");
    }
  }
  return "";
}

// The first row of `role` whose label is `label` (any label when empty); none when none.
std::optional<Json> rowOf(const Json& tree, const std::string& role,
                          const std::string& label = "") {
  for (const Json& row : tree.value("elements", Json::array())) {
    if (row.value("role", "") == role && (label.empty() || row.value("label", "") == label)) {
      return row;
    }
  }
  return std::nullopt;
}

// The same keys for GTK and Qt: Control+V and the characters of `kTypedPart`.
const std::map<char, int> kKeyCodes = {{'h', 0x04}, {'u', 0x20}, {'n', 0x2D}, {'t', 0x11},
                                       {'e', 0x0E}, {'r', 0x0F}, {'2', 0x13}, {'-', 0x1B}};

// The recording that ran meanwhile saw the typing; then no line the session wrote, answers and
// event lines alike, holds the password in any of its forms.
void expectRecordedAndNeverWritten(Session& session) {
  const Json stopped = session.call("stopRecording");
  EXPECT_GT(stopped.value("eventCount", 0), 0) << "the typing was not recorded";
  int lines = 0;
  for (const std::string& line : session.written()) {
    ++lines;
    for (const char* form : kForbidden) EXPECT_EQ(line.find(form), std::string::npos) << line;
  }
  EXPECT_GT(lines, 20);
}

class Launched {
 public:
  ~Launched() {
    for (pid_t pid : pids_) kill(pid, SIGKILL);
  }
  pid_t start(const std::vector<std::string>& argv, const std::string& title = "") {
    std::string error;
    const pid_t pid = DesktopEnvironment::desktop().launch(argv, &error);
    EXPECT_GT(pid, 0) << error;
    if (pid <= 0) return pid;
    pids_.push_back(pid);
    if (!title.empty()) {
      EXPECT_TRUE(DesktopEnvironment::desktop().waitForWindow(pid, title, 30s)) << title;
    }
    return pid;
  }

 private:
  std::vector<pid_t> pids_;
};

TEST(Secrets, APasswordPutIntoAGtkFieldNeverLeavesTheService) {
  const std::string report = "/tmp/tavren-secret-field-" + std::to_string(getpid());
  const std::string clipboardFile = report + ".clip";
  std::ofstream(clipboardFile, std::ios::binary) << kSecret;
  Launched apps;
  const pid_t pid = apps.start({kLoginForm, "", report}, "Tavren Login");
  auto service = DesktopEnvironment::startService();
  const Json tree =
      testing::treeOnceRegistered(*service, pid, ",\"maxElements\":60,\"maxDepth\":12", 8);
  const std::string path = passwordPath(tree["result"]);
  ASSERT_FALSE(path.empty()) << tree;

  Session session(*service);
  const Json field = {{"pid", pid}, {"path", path}};
  auto setField = [&](const std::string& value) {
    Json params = field;
    params["value"] = value;
    EXPECT_EQ(session.call("setAXValue", params).value("status", ""), "ok") << value;
  };
  session.call("watchApp", {{"pid", pid}});
  session.call("bringToFront", {{"pid", pid}});
  session.call("startRecording", {{"recordingId", "typing"}});

  // Set as a value; then emptied, which also focuses the field for what follows.
  setField(kSecret);
  EXPECT_EQ(fieldText(report, kSecret), kSecret);
  setField("");

  // Typed as the desktop's own input.
  session.call("remoteDesktopInput", {{"type", "text"}, {"text", kSecret}});
  EXPECT_EQ(fieldText(report, kSecret), kSecret);
  setField("");

  // Posted to the window key by key, each with its receipt.
  for (const char* c = kTypedPart; *c; ++c) {
    session.call("postKey", {{"pid", pid}, {"keyCode", kKeyCodes.at(*c)}});
  }
  EXPECT_EQ(fieldText(report, kTypedPart), kTypedPart);
  setField("");

  // Pasted from a clipboard the service saved and put back (Control+V).
  const pid_t source = apps.start({kClipboardSource, "--text", clipboardFile});
  for (int i = 0; i < 100; ++i) {
    if (session.call("pasteboardSnapshot", {{"name", "secret"}}).value("items", 0) == 1) break;
    std::this_thread::sleep_for(50ms);  // until the source owns the clipboard
  }
  kill(source, SIGKILL);
  EXPECT_EQ(session.call("pasteboardRestore", {{"name", "secret"}}).value("items", 0), 1);
  session.call("postKey", {{"pid", pid}, {"keyCode", 0x09}, {"flags", 0x40000}});
  EXPECT_EQ(fieldText(report, kSecret), kSecret);

  // Everything that reads: the tree, a search of the field, the window lists, the receipts.
  EXPECT_EQ(
      passwordPath(session.call("axTree", {{"pid", pid}, {"maxElements", 200}, {"maxDepth", 12}})),
      path);
  Json search = field;
  search["text"] = kSecret;
  EXPECT_EQ(session.call("selectAXText", search).value("status", ""), "text-not-found");
  search["text"] = "hunter2";
  EXPECT_EQ(session.call("selectAXText", search).value("status", ""), "text-not-found");
  session.call("windowCatalog");
  session.call("windowServerWindows", {{"pid", pid}});
  session.call("appWindows", {{"pid", pid}});
  session.call("interactionSnapshot");
  session.call("frontmostApp");
  session.call("listRunningApps");
  expectRecordedAndNeverWritten(session);
  unlink(report.c_str());
  unlink(clipboardFile.c_str());
}

// Qt 5's line edits example, its first field switched to password echo through its combo box.
// What reached the field is read at the end, in process and never through the service, once the
// field is back to normal echo.
TEST(Secrets, APasswordPutIntoAQtFieldNeverLeavesTheService) {
  const std::string clipboardFile = "/tmp/tavren-secret-qt-" + std::to_string(getpid()) + ".clip";
  std::ofstream(clipboardFile, std::ios::binary) << kSecret;
  Launched apps;
  const pid_t pid = apps.start({kQtLineEdits}, "Line Edits");
  auto service = DesktopEnvironment::startService();
  const std::string read = ",\"maxElements\":60,\"maxDepth\":6";
  Json tree = testing::treeOnceRegistered(*service, pid, read, 10)["result"];
  const std::optional<Json> combo = rowOf(tree, "AXComboBox");
  const std::optional<Json> echoField = rowOf(tree, "AXTextField", "Echo");
  ASSERT_TRUE(combo && echoField) << tree;
  const std::string path = echoField->value("path", "");

  Session session(*service);
  const Json treeParams = {{"pid", pid}, {"maxElements", 60}, {"maxDepth", 6}};
  auto clickAt = [&](const Json& row) {
    const double x = row.value("x", 0.0) + row.value("w", 0.0) / 2;
    const double y = row.value("y", 0.0) + row.value("h", 0.0) / 2;
    for (const char* phase : {"down", "up"}) {
      session.call("remoteDesktopInput",
                   {{"type", "pointer"}, {"phase", phase}, {"x", x}, {"y", y}, {"button", 0}});
    }
  };
  // The combo's list shows with boxes once open; its "Password" item switches the echo mode.
  session.call("bringToFront", {{"pid", pid}});
  clickAt(*combo);
  std::optional<Json> item;
  for (int i = 0; i < 50 && !(item && item->value("w", 0) > 0); ++i) {
    std::this_thread::sleep_for(100ms);
    tree = session.call("axTree", treeParams);
    item = rowOf(tree, "AXGroup", "Password");
  }
  ASSERT_TRUE(item && item->value("w", 0) > 0) << tree;
  clickAt(*item);
  for (int i = 0; i < 50 && passwordPath(tree) != path; ++i) {
    std::this_thread::sleep_for(100ms);
    tree = session.call("axTree", treeParams);
  }
  ASSERT_EQ(passwordPath(tree), path) << tree;

  const Json field = {{"pid", pid}, {"path", path}};
  session.call("watchApp", {{"pid", pid}});
  session.call("startRecording", {{"recordingId", "typing"}});

  // Each way in adds to what is there, so the text at the end tells that each one arrived.
  Json set = field;
  set["value"] = kSecret;
  EXPECT_EQ(session.call("setAXValue", set).value("status", ""), "ok");
  clickAt(*echoField);  // the keyboard's focus for what follows
  session.call("postKey", {{"pid", pid}, {"keyCode", 0x77}});  // End
  session.call("remoteDesktopInput", {{"type", "text"}, {"text", kSecret}});
  for (const char* c = kTypedPart; *c; ++c) {
    session.call("postKey", {{"pid", pid}, {"keyCode", kKeyCodes.at(*c)}});
  }
  const pid_t source = apps.start({kClipboardSource, "--text", clipboardFile});
  for (int i = 0; i < 100; ++i) {
    if (session.call("pasteboardSnapshot", {{"name", "secret-qt"}}).value("items", 0) == 1) break;
    std::this_thread::sleep_for(50ms);
  }
  kill(source, SIGKILL);
  EXPECT_EQ(session.call("pasteboardRestore", {{"name", "secret-qt"}}).value("items", 0), 1);
  session.call("postKey", {{"pid", pid}, {"keyCode", 0x09}, {"flags", 0x40000}});

  EXPECT_EQ(passwordPath(session.call("axTree", treeParams)), path);
  Json search = field;
  search["text"] = "hunter2";
  EXPECT_EQ(session.call("selectAXText", search).value("status", ""), "text-not-found");
  session.call("windowCatalog");
  session.call("appWindows", {{"pid", pid}});
  session.call("interactionSnapshot");
  expectRecordedAndNeverWritten(session);

  // Back to normal echo, the text read in process: everything put in arrived.
  clickAt(*combo);
  for (int i = 0; i < 50; ++i) {
    std::this_thread::sleep_for(100ms);
    item = rowOf(session.call("axTree", treeParams), "AXGroup", "Normal");
    if (item && item->value("w", 0) > 0) break;
  }
  ASSERT_TRUE(item);
  clickAt(*item);
  for (const auto& [key, value] : DesktopEnvironment::desktop().environment()) {
    setenv(key.c_str(), value.c_str(), 1);
  }
  atspi::AtspiBus bus;
  atspi::AtspiAccessibility accessibility(bus);
  const int64_t indexes[] = {0, 2};  // w0.0.2
  ASSERT_EQ(path, "w0.0.2");
  const std::string expected = std::string(kSecret) + kSecret + kTypedPart + kSecret;
  std::string text;
  for (int i = 0; i < 100 && text != expected; ++i) {
    std::this_thread::sleep_for(50ms);
    auto edit = accessibility.element(pid, PathRoot::Window, 0, indexes);
    if (!edit) continue;
    const AttributeValue value = edit->value();
    if (const auto* s = std::get_if<std::string>(&value)) text = *s;
  }
  EXPECT_EQ(text, expected);
  EXPECT_EQ(kill(pid, 0), 0);
  unlink(clipboardFile.c_str());
}

}  // namespace
}  // namespace tavren
