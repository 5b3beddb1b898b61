// "pasteboardSnapshot" and "pasteboardRestore" through the real service on the headless desktop:
// a GTK application's clipboard is saved, replaced, put back, and read by a fresh xclip.
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <thread>

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

TEST_F(PasteboardTest, EmptyClipboardAndUnknownName) {
  EXPECT_EQ(request("pasteboardRestore", "never stored")["items"], 0);
  EXPECT_EQ(request("pasteboardSnapshot", "empty")["items"], 0);
  EXPECT_EQ(request("pasteboardRestore", "empty")["items"], 0);
  EXPECT_FALSE(readTarget("TARGETS"));
}

}  // namespace
}  // namespace tavren
