// "pasteboardSnapshot" and "pasteboardRestore" through the real service on the headless desktop:
// a GTK application's clipboard is saved, replaced, put back, and read by a fresh xclip.
#include <glib.h>
#include <poll.h>
#include <xcb/xcb.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/linux/clipboard/x11_pasteboard.h"
#include "platform/linux/x11/x_link.h"
#include "support/desktop_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using testing::call;
using testing::DesktopEnvironment;

// Runs a program on the test desktop to its end; its output, or nothing when it failed.
// Output goes through a file: xclip -i stays behind as the owner and would hold a pipe open.
std::optional<std::string> run(const std::vector<std::string>& args, bool captureOutput = true) {
  std::vector<std::string> env = DesktopEnvironment::desktop().childEnvironment();
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  char path[] = "/tmp/tavren-clip-out-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return std::nullopt;
  close(fd);
  std::string shell = "exec";
  for (const auto& a : args) shell += " '" + a + "'";
  shell += std::string(" < /dev/null 2> /dev/null > ") + (captureOutput ? path : "/dev/null");
  const char* argv[] = {"/bin/sh", "-c", shell.c_str(), nullptr};
  gint status = 0;
  const bool spawned = g_spawn_sync(nullptr, const_cast<char**>(argv), envp.data(),
                                    G_SPAWN_DEFAULT, nullptr, nullptr, nullptr, nullptr, &status,
                                    nullptr);
  std::optional<std::string> result;
  if (spawned && g_spawn_check_wait_status(status, nullptr)) {
    std::ifstream in(path, std::ios::binary);
    result = std::string(std::istreambuf_iterator<char>(in), {});
  }
  unlink(path);
  return result;
}

std::optional<std::string> readTarget(const std::string& target) {
  return run({"xclip", "-o", "-selection", "clipboard", "-t", target});
}

// Bytes with every value, NULs included, that change with the seed.
std::string pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (auto& c : s) {
    x = x * 1664525u + 1013904223u;
    c = char(x >> 24);
  }
  return s;
}

std::string writeFile(const std::string& bytes) {
  char path[] = "/tmp/tavren-clip-in-XXXXXX";
  int fd = mkstemp(path);
  close(fd);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}


// A connection of the test's own; the tests cannot go on without one.
std::unique_ptr<x11::XLink> testConnection() {
  auto link = x11::XLink::connect(DesktopEnvironment::desktop().display());
  if (!link) std::abort();
  return link;
}

// A clipboard owner of the test's own that lists "UTF8_STRING" and "never/answered" and answers
// only the first, as a hung application would.
class StallingOwner {
 public:
  StallingOwner() : link(testConnection()), c(link->get()) {
    window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, link->root(), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    clipboard = link->internAtom("CLIPBOARD");
    targets = link->internAtom("TARGETS");
    text = link->internAtom("UTF8_STRING");
    never = link->internAtom("never/answered");
    xcb_set_selection_owner(c, window, clipboard, XCB_CURRENT_TIME);
    xcb_flush(c);
    thread = std::thread([this] { serve(); });
  }
  ~StallingOwner() {
    stop = true;
    thread.join();
  }

 private:
  void serve() {
    while (!stop) {
      pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
      poll(&fd, 1, 50);
      while (auto* e = xcb_poll_for_event(c)) {
        if ((e->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
          answer(*reinterpret_cast<xcb_selection_request_event_t*>(e));
        }
        free(e);
      }
    }
  }
  void answer(const xcb_selection_request_event_t& r) {
    if (r.target == never) return;  // no answer at all
    xcb_selection_notify_event_t n{};
    n.response_type = XCB_SELECTION_NOTIFY;
    n.time = r.time;
    n.requestor = r.requestor;
    n.selection = r.selection;
    n.target = r.target;
    n.property = r.property;
    if (r.target == targets) {
      const xcb_atom_t list[] = {targets, never, text};
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, r.requestor, r.property, XCB_ATOM_ATOM, 32, 3,
                          list);
    } else if (r.target == text) {
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, r.requestor, r.property, text, 8, 8,
                          "answered");
    } else {
      n.property = XCB_ATOM_NONE;
    }
    xcb_send_event(c, 0, r.requestor, 0, reinterpret_cast<const char*>(&n));
    xcb_flush(c);
  }

  std::unique_ptr<x11::XLink> link;
  xcb_connection_t* c;
  xcb_window_t window = 0;
  xcb_atom_t clipboard = 0, targets = 0, text = 0, never = 0;
  std::atomic<bool> stop{false};
  std::thread thread;
};

// A clipboard manager of the test's own: on SAVE_TARGETS it copies the clipboard's text (through
// xclip) before it answers, as a manager takes over content whose owner is leaving.
class TextKeepingManager {
 public:
  TextKeepingManager() : link(testConnection()), c(link->get()) {
    window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, link->root(), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    saveTargets = link->internAtom("SAVE_TARGETS");
    const xcb_atom_t managerSelection = link->internAtom("CLIPBOARD_MANAGER");
    xcb_set_selection_owner(c, window, managerSelection, XCB_CURRENT_TIME);
    // A round trip: the server has made us the manager before anyone else may look for one.
    free(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, managerSelection), nullptr));
    thread = std::thread([this] { serve(); });
  }
  ~TextKeepingManager() {
    stop = true;
    thread.join();
  }
  std::optional<std::string> kept() {
    std::lock_guard lock(mutex);
    return text;
  }

 private:
  void serve() {
    while (!stop) {
      pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
      poll(&fd, 1, 50);
      while (auto* e = xcb_poll_for_event(c)) {
        if ((e->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
          auto r = *reinterpret_cast<xcb_selection_request_event_t*>(e);
          xcb_selection_notify_event_t n{};
          n.response_type = XCB_SELECTION_NOTIFY;
          n.time = r.time;
          n.requestor = r.requestor;
          n.selection = r.selection;
          n.target = r.target;
          n.property = XCB_ATOM_NONE;
          if (r.target == saveTargets) {
            auto copied = readTarget("UTF8_STRING");
            std::lock_guard lock(mutex);
            text = copied;
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, r.requestor, r.property,
                                XCB_ATOM_NONE, 32, 0, nullptr);
            n.property = r.property;
          }
          xcb_send_event(c, 0, r.requestor, 0, reinterpret_cast<const char*>(&n));
          xcb_flush(c);
        }
        free(e);
      }
    }
  }

  std::unique_ptr<x11::XLink> link;
  xcb_connection_t* c;
  xcb_window_t window = 0;
  xcb_atom_t saveTargets = 0;
  std::atomic<bool> stop{false};
  std::thread thread;
  std::mutex mutex;
  std::optional<std::string> text;
};

class PasteboardTest : public ::testing::Test {
 protected:
  void SetUp() override { service = DesktopEnvironment::startService(); }
  void TearDown() override {
    if (source > 0) kill(source, SIGTERM);
    for (const auto& f : files) unlink(f.c_str());
    service->closeInput();
    EXPECT_EQ(service->wait(10s), 0);
    EXPECT_EQ(service->errorOutput(), "");
  }

  // The GTK fixture copies these bytes; waits until the clipboard offers them.
  void copyInGtk(const std::string& text, const std::string& html, const std::string& png) {
    for (const auto* bytes : {&text, &html, &png}) files.push_back(writeFile(*bytes));
    std::string error;
    source = DesktopEnvironment::desktop().launch(
        {std::string(TAVREN_BIN_DIR) + "/tavren-fixture-clipboard-source", "--text", files[0],
         "--html", files[1], "--png", files[2]},
        &error);
    ASSERT_GT(source, 0) << error;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
      auto targets = readTarget("TARGETS");
      if (targets && targets->find("image/png") != std::string::npos) return;
      std::this_thread::sleep_for(50ms);  // polling the clipboard: X has no event for "owned"
    }
    FAIL() << "the fixture never owned the clipboard";
  }

  Json request(const std::string& method, const std::string& name) {
    Json r = call(*service, "c" + std::to_string(++ids), method,
                  Json{{"name", name}}.dump());
    EXPECT_TRUE(r.value("ok", false)) << r.dump();
    return r.value("result", Json());
  }

  std::unique_ptr<ServiceProcess> service;
  pid_t source = -1;
  std::vector<std::string> files;
  int ids = 0;
};

TEST_F(PasteboardTest, GtkClipboardRoundTripsByteForByteAfterAnotherCopy) {
  const std::string text = "Grüße, clipboard \xe2\x9c\x93";
  const std::string html = "<p><b>bold</b> and <i>italic</i></p>";
  const std::string png = pattern(300'000, 1);
  copyInGtk(text, html, png);

  EXPECT_EQ(request("pasteboardSnapshot", "user")["items"], 1);
  const std::string other = writeFile("replaced");
  files.push_back(other);
  ASSERT_TRUE(run({"xclip", "-i", "-selection", "clipboard", other}, false));
  ASSERT_EQ(readTarget("UTF8_STRING"), "replaced");

  EXPECT_EQ(request("pasteboardRestore", "user")["items"], 1);
  const std::string targets = readTarget("TARGETS").value_or("");
  for (const char* t : {"UTF8_STRING", "text/html", "image/png", "TARGETS", "MULTIPLE"}) {
    EXPECT_NE(targets.find(t), std::string::npos) << t << " missing from " << targets;
  }
  EXPECT_EQ(readTarget("UTF8_STRING"), text);
  EXPECT_EQ(readTarget("text/html"), html);
  EXPECT_EQ(readTarget("image/png"), png);

  // The stored copy went with the restore: a second one empties the clipboard.
  EXPECT_EQ(request("pasteboardRestore", "user")["items"], 0);
  EXPECT_FALSE(readTarget("UTF8_STRING"));
}

TEST_F(PasteboardTest, FiftyMebibytesRoundTripThroughIncrementalTransfers) {
  const std::string big = pattern(50u << 20, 2);
  copyInGtk("small", "<p>small</p>", big);
  EXPECT_EQ(request("pasteboardSnapshot", "big")["items"], 1);
  kill(source, SIGTERM);
  source = -1;
  EXPECT_EQ(request("pasteboardRestore", "big")["items"], 1);
  const std::optional<std::string> back = readTarget("image/png");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->size(), big.size());
  EXPECT_TRUE(*back == big);
  EXPECT_EQ(readTarget("UTF8_STRING"), "small");
}

TEST_F(PasteboardTest, AnOwnerThatNeverAnswersATargetCostsThatTargetOnly) {
  {
    StallingOwner owner;
    ASSERT_EQ(readTarget("UTF8_STRING"), "answered");
    EXPECT_EQ(request("pasteboardSnapshot", "stalled")["items"], 1);
  }
  EXPECT_EQ(request("pasteboardRestore", "stalled")["items"], 1);
  const std::string targets = readTarget("TARGETS").value_or("");
  EXPECT_EQ(targets.find("never/answered"), std::string::npos) << targets;
  EXPECT_EQ(readTarget("UTF8_STRING"), "answered");
}

TEST_F(PasteboardTest, ARequesterThatNeverReadsItsTransferBlocksNoOne) {
  const std::string png = pattern(3u << 20, 3);
  copyInGtk("text", "<p>html</p>", png);
  EXPECT_EQ(request("pasteboardSnapshot", "incr")["items"], 1);
  EXPECT_EQ(request("pasteboardRestore", "incr")["items"], 1);

  // A client asks for the image, gets the INCR announcement, and never deletes it.
  auto link = testConnection();
  xcb_connection_t* c = link->get();
  const xcb_window_t window = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, link->root(), 0, 0, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
  xcb_convert_selection(c, window, link->internAtom("CLIPBOARD"), link->internAtom("image/png"),
                        link->internAtom("STALLED"), XCB_CURRENT_TIME);
  xcb_flush(c);
  bool announced = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (bool notified = false; !notified && std::chrono::steady_clock::now() < deadline;) {
    pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
    poll(&fd, 1, 100);
    while (auto* e = xcb_poll_for_event(c)) {
      if ((e->response_type & 0x7f) == XCB_SELECTION_NOTIFY && !notified) {
        notified = true;
        announced = reinterpret_cast<xcb_selection_notify_event_t*>(e)->property != XCB_ATOM_NONE;
      }
      free(e);
    }
  }
  EXPECT_TRUE(announced);

  // Everyone else is still served, large data included.
  EXPECT_EQ(readTarget("UTF8_STRING"), "text");
  EXPECT_EQ(readTarget("image/png"), png);
}

// The hand-over the service makes on its way out, run in this process on the test desktop.
TEST(PasteboardHandOverTest, ContentGoesToARunningClipboardManagerOnly) {
  const char* saved = getenv("DISPLAY");
  const std::string keep = saved ? saved : "";
  setenv("DISPLAY", DesktopEnvironment::desktop().display().c_str(), 1);
  {
    auto x = x11::XConnection::open(DesktopEnvironment::desktop().display());
    ASSERT_TRUE(x && x->alive());
    x11::X11Pasteboard pasteboard(x.get());
    EXPECT_FALSE(pasteboard.handOverBeforeExit()) << "nothing owned yet";
    ASSERT_TRUE(pasteboard.setGeneralItems({{{"UTF8_STRING", "keep me"}}}));
    EXPECT_FALSE(pasteboard.handOverBeforeExit()) << "no manager is running";
    TextKeepingManager manager;
    EXPECT_TRUE(pasteboard.handOverBeforeExit());
    EXPECT_EQ(manager.kept(), "keep me");
    // Taking no items leaves the clipboard without an owner.
    ASSERT_TRUE(pasteboard.setGeneralItems({}));
    EXPECT_FALSE(readTarget("TARGETS"));
  }
  if (saved) setenv("DISPLAY", keep.c_str(), 1); else unsetenv("DISPLAY");
}

TEST_F(PasteboardTest, EmptyClipboardAndUnknownName) {
  EXPECT_EQ(request("pasteboardRestore", "never stored")["items"], 0);
  EXPECT_EQ(request("pasteboardSnapshot", "empty")["items"], 0);
  EXPECT_EQ(request("pasteboardRestore", "empty")["items"], 0);
  EXPECT_FALSE(readTarget("TARGETS"));
}

}  // namespace
}  // namespace tavren
