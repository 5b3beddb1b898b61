// Remote desktop input on the real desktop, judged by the X server's own state (QueryKeymap,
// QueryPointer, GetKeyboardMapping) and by what the toolkits received: nothing stays held however
// the service ends, text of any script arrives exactly, the keymap is left as found, and clicks
// are counted by the toolkit as the host meant them.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include <unicode/unistr.h>

#include "platform/linux/x11/x_link.h"
#include "support/desktop_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::call;
using testing::DesktopEnvironment;

constexpr auto kSettle = 10s;

// The X server's view of the devices, on a connection of the test's own.
class DeviceState {
 public:
  explicit DeviceState(const std::string& display) : link_(x11::XLink::connect(display)) {
    c_ = link_->get();
    root_ = link_->root();
  }

  // Keycodes X holds down.
  std::vector<int> keysDown() {
    std::vector<int> down;
    auto r = link_->reply(xcb_query_keymap_reply, xcb_query_keymap(c_));
    if (!r) return {-1};
    for (int k = 0; k < 256; ++k) {
      if (r->keys[k / 8] & (1 << (k % 8))) down.push_back(k);
    }
    return down;
  }
  // Pointer buttons X holds down (the button masks of the pointer's state).
  uint16_t buttonsDown() {
    auto r = link_->reply(xcb_query_pointer_reply, xcb_query_pointer(c_, root_));
    if (!r) return 0xFFFF;
    return r->mask & 0x1F00;
  }
  std::pair<int, int> pointer() {
    auto r = link_->reply(xcb_query_pointer_reply, xcb_query_pointer(c_, root_));
    return r ? std::pair<int, int>{r->root_x, r->root_y} : std::pair{-1, -1};
  }
  std::vector<uint32_t> keymap() {
    const xcb_setup_t* s = xcb_get_setup(c_);
    auto r = link_->reply(
        xcb_get_keyboard_mapping_reply,
        xcb_get_keyboard_mapping(c_, s->min_keycode, s->max_keycode - s->min_keycode + 1));
    if (!r) return {};
    const xcb_keysym_t* k = xcb_get_keyboard_mapping_keysyms(r.get());
    std::vector<uint32_t> out(k, k + xcb_get_keyboard_mapping_keysyms_length(r.get()));
    out.push_back(r->keysyms_per_keycode);
    return out;
  }
  bool nothingHeld() { return keysDown().empty() && buttonsDown() == 0; }
  // Lets go of everything, so that one failed test does not leave the next one a held key.
  void releaseAll() {
    for (int k : keysDown()) xcb_test_fake_input(c_, XCB_KEY_RELEASE, k, 0, root_, 0, 0, 0);
    const uint16_t buttons = buttonsDown();
    for (int b = 0; b < 5; ++b) {
      if (buttons & (0x100 << b)) xcb_test_fake_input(c_, XCB_BUTTON_RELEASE, b + 1, 0, root_, 0, 0, 0);
    }
    link_->sync();
  }
  std::string describe() {
    std::string d = "keys";
    for (int k : keysDown()) d += " " + std::to_string(k);
    return d + ", buttons " + std::to_string(buttonsDown() >> 8);
  }

 private:
  std::unique_ptr<x11::XLink> link_;
  xcb_connection_t* c_;
  xcb_window_t root_ = XCB_WINDOW_NONE;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// Our GTK 3 entry and click pad; what it receives lands in files.
struct TypingTarget {
  TypingTarget() {
    char dir[] = "/tmp/tavren-typing-XXXXXX";
    prefix = std::string(mkdtemp(dir)) + "/target";
    std::string error;
    pid = DesktopEnvironment::desktop().launch(
        {std::string(TAVREN_BIN_DIR) + "/tavren-fixture-typing-target", "--out", prefix}, &error);
    EXPECT_GT(pid, 0) << error;
    EXPECT_TRUE(waitFor([&] { return !readFile(prefix + ".where").empty(); }, 30s));
    std::istringstream where(readFile(prefix + ".where"));
    where >> padX >> padY >> entryX >> entryY;
  }
  ~TypingTarget() {
    if (pid > 0) kill(pid, SIGTERM);
  }
  std::string text() const { return readFile(prefix + ".text"); }
  std::string clicks() const { return readFile(prefix + ".clicks"); }

  std::string prefix;
  pid_t pid = -1;
  int padX = 0, padY = 0, entryX = 0, entryY = 0;
};


class RemoteInputTest : public ::testing::Test {
 protected:
  RemoteInputTest() : x(DesktopEnvironment::desktop().display()) {}
  void SetUp() override { ASSERT_TRUE(x.nothingHeld()) << "a key or button is down already"; }
  void TearDown() override {
    EXPECT_TRUE(waitFor([&] { return x.nothingHeld(); }, 3s)) << x.describe();
    x.releaseAll();
  }

  Json send(ServiceProcess& s, const Json& params) {
    Json r = call(s, "r" + std::to_string(++serial), "remoteDesktopInput", params.dump());
    EXPECT_EQ(r["ok"], true) << params << " " << r;
    return r;
  }
  void click(ServiceProcess& s, int px, int py, int times = 1, int button = 0) {
    for (int i = 0; i < times; ++i) {
      send(s, {{"type", "pointer"}, {"phase", "down"}, {"x", px}, {"y", py}, {"button", button}});
      send(s, {{"type", "pointer"}, {"phase", "up"}, {"x", px}, {"y", py}, {"button", button}});
    }
  }
  // Shift, a letter and the primary button held on the target's pad.
  void holdKeysAndButton(ServiceProcess& s, const TypingTarget& t) {
    send(s, {{"type", "key"}, {"keyCode", 56}, {"down", true}});
    send(s, {{"type", "pointer"}, {"phase", "down"}, {"x", t.padX}, {"y", t.padY}});
    ASSERT_FALSE(x.keysDown().empty());
    ASSERT_NE(x.buttonsDown(), 0);
  }

  DeviceState x;
  int serial = 0;
};

TEST_F(RemoteInputTest, EndOfInputReleasesHeldKeyAndButton) {
  TypingTarget target;
  auto service = DesktopEnvironment::startService();
  holdKeysAndButton(*service, target);
  send(*service, {{"type", "key"}, {"keyCode", 0}, {"down", true}});
  service->closeInput();
  EXPECT_EQ(service->wait(kSettle), 0);
  EXPECT_EQ(service->errorOutput(), "");
  EXPECT_TRUE(x.nothingHeld());
}

TEST_F(RemoteInputTest, TerminationSignalsReleaseBeforeTheServiceEnds) {
  TypingTarget target;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    auto service = DesktopEnvironment::startService();
    holdKeysAndButton(*service, target);
    kill(service->pid(), sig);
    EXPECT_EQ(service->wait(kSettle), 128 + sig) << sig;
    EXPECT_TRUE(x.nothingHeld()) << "after signal " << sig << ": " << x.describe();
  }
}

// The host stops reading: the next answer cannot be written, and the service ends without
// leaving Shift down.
TEST_F(RemoteInputTest, ClosedOutputReleasesShift) {
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> env = DesktopEnvironment::desktop().childEnvironment();
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string binary = testing::serviceBinary();
  char* argv[] = {binary.data(), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);

  std::string line = requestLine("s", "remoteDesktopInput",
                                 R"({"type":"key","keyCode":56,"down":true})") ;
  ASSERT_EQ(write(in[1], line.data(), line.size()), ssize_t(line.size()));
  pollfd p{out[0], POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 10000), 1);
  ASSERT_TRUE(waitFor([&] { return !x.keysDown().empty(); }, kSettle));
  close(out[0]);
  line = requestLine("h", "remoteDesktopInput", R"({"type":"heartbeat"})");
  [[maybe_unused]] ssize_t n = write(in[1], line.data(), line.size());

  int status = 0;
  bool ended = waitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, kSettle);
  if (!ended) kill(pid, SIGKILL), waitpid(pid, &status, 0);
  close(in[1]);
  EXPECT_TRUE(ended);
  EXPECT_TRUE(x.nothingHeld());
}

TEST_F(RemoteInputTest, WatchdogReleasesAfterTenSilentSeconds) {
  auto service = DesktopEnvironment::startService();
  // Taken before the request: the service counts from the moment it took the request in.
  const auto pressed = std::chrono::steady_clock::now();
  send(*service, {{"type", "key"}, {"keyCode", 56}, {"down", true}});
  std::this_thread::sleep_for(8s);
  EXPECT_FALSE(x.keysDown().empty()) << "released before the idle limit";
  ASSERT_TRUE(waitFor([&] { return x.keysDown().empty(); }, 6s));
  EXPECT_GT(std::chrono::steady_clock::now() - pressed, 10s);
}

TEST_F(RemoteInputTest, ABurstIsAnsweredInInputOrder) {
  auto service = DesktopEnvironment::startService();
  constexpr int kCount = 10000;
  std::string burst;
  for (int i = 0; i < kCount; ++i) {
    Json params = {{"type", "pointer"}, {"phase", "move"}, {"x", 100 + i % 500}, {"y", 200}};
    burst += requestLine(std::to_string(i), "remoteDesktopInput", params.dump());
  }
  ASSERT_TRUE(service->send(burst));
  for (int i = 0; i < kCount; ++i) {
    auto line = service->readLine(kSettle);
    ASSERT_TRUE(line) << "answer " << i;
    Json r = Json::parse(*line, nullptr, false);
    ASSERT_EQ(r["id"], std::to_string(i)) << *line;
    ASSERT_EQ(r["ok"], true) << *line;
  }
  EXPECT_EQ(x.pointer(), (std::pair<int, int>{100 + (kCount - 1) % 500, 200}));
}

const std::string kMixedScripts =
    "Grüße, 東京 🙂 Привет, ĉu vi? e\u0301 à la crème, ÆØÅ æøå ß 𝄞 Ωμέγα!";

TEST_F(RemoteInputTest, TextOfEveryScriptArrivesExactlyInGtkAndTheKeymapStaysAsFound) {
  TypingTarget target;
  auto service = DesktopEnvironment::startService();
  const auto keymap = x.keymap();
  click(*service, target.entryX, target.entryY);
  send(*service, {{"type", "text"}, {"text", kMixedScripts}});
  EXPECT_TRUE(waitFor([&] { return target.text() == kMixedScripts; }, kSettle)) << target.text();
  EXPECT_EQ(x.keymap(), keymap);

  // More distinct characters than there are spare keycodes: several rounds of bindings.
  std::string many;
  for (char32_t c = 0x4E00; c < 0x4E00 + 300; ++c) {
    icu::UnicodeString u(static_cast<UChar32>(c));
    u.toUTF8String(many);
  }
  send(*service, {{"type", "text"}, {"text", many}});
  EXPECT_TRUE(waitFor([&] { return target.text() == kMixedScripts + many; }, kSettle))
      << target.text().size() << " bytes of " << (kMixedScripts + many).size();
  EXPECT_EQ(x.keymap(), keymap);
}

// Rounds of bindings, each followed by so many keys that the entry, which lays its whole text out
// again for every character, falls seconds behind the service: no binding may change before the
// entry has read every key typed on it, however long that takes.
TEST_F(RemoteInputTest, TextOfSeveralRoundsArrivesExactlyInAnEntryFarBehind) {
  TypingTarget target;
  auto service = DesktopEnvironment::startService();
  const auto keymap = x.keymap();
  ASSERT_FALSE(keymap.empty());
  const size_t perKeycode = keymap.back();
  size_t spare = 0;
  for (size_t k = 0; k + 1 < keymap.size(); k += perKeycode) {
    bool empty = true;
    for (size_t c = 0; c < perKeycode; ++c) empty = empty && keymap[k + c] == 0;
    spare += empty;
  }
  const size_t perRound = 2 * spare;  // the shifted column too
  constexpr size_t kRounds = 3;
  ASSERT_GT(4000 / kRounds, perRound + 400) << spare << " spare keycodes";
  const size_t filler = 4000 / kRounds - perRound;
  std::string text;
  char32_t next = 0x5000;
  for (size_t round = 0; round < kRounds; ++round) {
    for (size_t i = 0; i < perRound; ++i) {
      icu::UnicodeString u(static_cast<UChar32>(next++));
      u.toUTF8String(text);
    }
    for (size_t i = 0; i < filler; ++i) text += static_cast<char>('a' + (i + round) % 26);
  }
  click(*service, target.entryX, target.entryY);
  service->send(requestLine("rounds", "remoteDesktopInput",
                            Json{{"type", "text"}, {"text", text}}.dump()));
  auto answer = service->responseFor("rounds", 180s);
  ASSERT_TRUE(answer);
  EXPECT_EQ(Json::parse(*answer)["ok"], true) << *answer;
  EXPECT_TRUE(waitFor([&] { return target.text() == text; }, kSettle))
      << target.text().size() << " bytes of " << text.size();
  EXPECT_EQ(x.keymap(), keymap);
}

TEST_F(RemoteInputTest, TextArrivesExactlyInAQtLineEdit) {
  std::string error;
  pid_t qt = DesktopEnvironment::desktop().launch(
      // The desktop's environment switches Qt's accessibility on.
      {"/usr/lib/x86_64-linux-gnu/qt5/examples/widgets/widgets/lineedits/lineedits"},
      &error);
  ASSERT_GT(qt, 0) << error;
  ASSERT_TRUE(DesktopEnvironment::desktop().waitForWindow(qt, "", 30s));
  auto service = DesktopEnvironment::startService();
  const auto keymap = x.keymap();
  // The first line edit, as the accessibility tree places it.
  Json field, lastTree;
  // Reading the line edit back needs the service to know the Qt application.
  Json known = call(*service, "k", "axTree", Json{{"pid", qt}, {"maxElements", 1}}.dump());
  if (known["ok"] != true) {
    kill(qt, SIGTERM);
    GTEST_SKIP() << "the service does not resolve the Qt example's pid: " << known;
  }
  const bool found = waitFor(
      [&] {
        Json tree = call(*service, "t", "axTree",
                         Json{{"pid", qt}, {"maxElements", 400}, {"maxDepth", 12}}.dump());
        lastTree = tree;
        for (const Json& row : tree["result"]["elements"]) {
          if (row["role"] == "AXTextField" && row["w"].get<int>() > 0) {
            field = row;
            return true;
          }
        }
        return false;
      },
      30s);
  if (!found && lastTree["ok"] != true) {
    GTEST_SKIP() << "the Qt example went away from the service's view (alive: "
                 << (kill(qt, 0) == 0) << "): " << lastTree;
  }
  ASSERT_TRUE(found) << lastTree.dump().substr(0, 3000);
  const int fx = field["x"].get<int>() + field["w"].get<int>() / 2;
  const int fy = field["y"].get<int>() + field["h"].get<int>() / 2;
  click(*service, fx, fy);
  const std::string text = "Grüße, 東京 🙂 Привет e\u0301";
  send(*service, {{"type", "text"}, {"text", text}});
  std::string seen;
  EXPECT_TRUE(waitFor(
      [&] {
        Json tree = call(*service, "t", "axTree",
                         Json{{"pid", qt}, {"maxElements", 400}, {"maxDepth", 12}}.dump());
        for (const Json& row : tree["result"]["elements"]) {
          if (row["path"] == field["path"]) seen = row["value"].get<std::string>();
        }
        return seen == text;
      },
      kSettle))
      << seen;
  EXPECT_EQ(x.keymap(), keymap);
  kill(qt, SIGTERM);
}

TEST_F(RemoteInputTest, SigtermMidTextLeavesTheKeymapAsFound) {
  TypingTarget target;
  auto service = DesktopEnvironment::startService();
  const auto keymap = x.keymap();
  click(*service, target.entryX, target.entryY);
  std::string many;
  for (char32_t c = 0x3400; c < 0x3400 + 4000; ++c) {
    icu::UnicodeString u(static_cast<UChar32>(c));
    u.toUTF8String(many);
  }
  service->send(requestLine("long", "remoteDesktopInput",
                            Json{{"type", "text"}, {"text", many}}.dump()));
  ASSERT_TRUE(waitFor([&] { return !target.text().empty(); }, kSettle));
  kill(service->pid(), SIGTERM);
  EXPECT_EQ(service->wait(30s), 128 + SIGTERM);
  EXPECT_EQ(x.keymap(), keymap);
}

TEST_F(RemoteInputTest, DoubleAndTripleClicksReachTheToolkitCounted) {
  TypingTarget target;
  auto service = DesktopEnvironment::startService();
  // Written at once: the toolkit counts by the server's times, which a loaded machine would
  // otherwise spread past its double-click time.
  std::string lines;
  for (int i = 0; i < 4; ++i) {
    const int button = i < 3 ? 0 : 2;
    for (const char* phase : {"down", "up"}) {
      lines += requestLine("c" + std::to_string(lines.size()), "remoteDesktopInput",
                           Json{{"type", "pointer"}, {"phase", phase}, {"button", button},
                                {"x", target.padX + (i < 3 ? 0 : 30)}, {"y", target.padY}}
                               .dump());
    }
  }
  ASSERT_TRUE(service->send(lines));
  for (int i = 0; i < 8; ++i) {
    auto answer = service->readLine(kSettle);
    ASSERT_TRUE(answer);
    EXPECT_EQ(Json::parse(*answer)["ok"], true) << *answer;
  }
  EXPECT_TRUE(waitFor([&] { return target.clicks() == "1 1\n1 1\n1 2\n1 1\n1 3\n3 1\n"; },
                      kSettle))
      << target.clicks() << " at " << target.padX << "," << target.padY << " now "
      << readFile(target.prefix + ".where");
}

}  // namespace
}  // namespace tavren
