// The real service against X servers that stop answering: before it starts, while it connects,
// and in the middle of a session. Whatever the display does, the service answers and exits.
#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "support/service_fixture.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::call;
using testing::startService;

// An Xvfb of the test's own, which the test can stop and continue like a hung server.
class OwnXServer {
 public:
  OwnXServer() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    const gint source[] = {fds[1]}, target[] = {3};
    const gchar* argv[] = {"Xvfb",       "-displayfd", "3",   "-screen",  "0",
                           "640x480x24", "-nolisten",  "tcp", "-noreset", nullptr};
    GError* error = nullptr;
    GPid pid = 0;
    const auto flags =
        static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                 G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL);
    bool spawned = g_spawn_async_with_pipes_and_fds(
        nullptr, const_cast<gchar**>(argv), nullptr, flags, nullptr, nullptr, -1, -1, -1, source,
        target, 1, &pid, nullptr, nullptr, nullptr, &error);
    close(fds[1]);
    g_clear_error(&error);
    if (spawned) pid_ = pid;
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    while (spawned && poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~OwnXServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGCONT);
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }

  const std::string& display() const { return display_; }
  void stop() { kill(pid_, SIGSTOP); }

 private:
  pid_t pid_ = 0;
  std::string display_;
};

// A display whose socket accepts connections and never says a word.
class SilentDisplay {
 public:
  SilentDisplay() {
    // The abstract socket X clients try first: no file to create or remove.
    for (int n = 987; n < 1100 && display_.empty(); ++n) {
      fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::string name = "/tmp/.X11-unix/X" + std::to_string(n);
      std::memcpy(address.sun_path + 1, name.data(), name.size());
      auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
      if (bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(fd_, 16) == 0) {
        display_ = ":" + std::to_string(n);
      } else {
        close(fd_);
        fd_ = -1;
      }
    }
  }
  ~SilentDisplay() {
    if (fd_ >= 0) close(fd_);
  }
  const std::string& display() const { return display_; }

 private:
  int fd_ = -1;
  std::string display_;
};

std::unique_ptr<ServiceProcess> startOn(const std::string& display,
                                        const std::string& runtimeDir = "") {
  return startService({testing::serviceBinary()}, {{"DISPLAY", display},
                                                   {"WAYLAND_DISPLAY", ""},
                                                   {"DBUS_SESSION_BUS_ADDRESS", ""},
                                                   {"AT_SPI_BUS_ADDRESS", ""},
                                                   {"XDG_RUNTIME_DIR", runtimeDir}});
}

// The response and how long it took.
std::pair<Json, Clock::duration> timedCall(ServiceProcess& service, const std::string& id,
                                           const std::string& method,
                                           const std::string& params = "{}") {
  auto start = Clock::now();
  Json response = call(service, id, method, params);
  return {response, Clock::now() - start};
}

// Answered with success (a missing answer is a discarded value).
bool succeeded(const Json& response) {
  return response.is_object() && response.value("ok", false);
}

void expectQuietExit(ServiceProcess& service) {
  service.closeInput();
  EXPECT_EQ(service.wait(10s), 0);
  EXPECT_EQ(service.errorOutput(), "");
}

// Generous against a loaded machine; a stall would take the caller's whole 10 s instead.
constexpr auto kStartupBound = 5s;
// One X reply timeout (1.5 s) or the wait for the connection (2 s), with room for a loaded
// machine; a hang would take the caller's whole 10 s.
constexpr auto kOneTimeoutBound = 4s;

TEST(StalledDisplay, ServiceAnswersAndExitsWhenTheServerNeverAnswers) {
  OwnXServer stopped;
  ASSERT_FALSE(stopped.display().empty()) << "Xvfb did not start";
  stopped.stop();
  SilentDisplay silent;
  ASSERT_FALSE(silent.display().empty());
  for (const std::string& display : {stopped.display(), silent.display()}) {
    SCOPED_TRACE(display);
    auto service = startOn(display);
    auto [ping, took] = timedCall(*service, "p", "ping");
    EXPECT_TRUE(succeeded(ping));
    EXPECT_LT(took, kStartupBound);
    // Readers give their defaults: no window system answers.
    auto [apps, appsTook] = timedCall(*service, "a", "listRunningApps");
    ASSERT_TRUE(succeeded(apps));
    EXPECT_EQ(apps["result"], Json::array());
    EXPECT_LT(appsTook, kOneTimeoutBound);
    expectQuietExit(*service);
  }
}

TEST(StalledDisplay, ServerStoppedMidSessionCostsAboutOneTimeoutPerRequest) {
  OwnXServer server;
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  auto service = startOn(server.display());
  EXPECT_TRUE(succeeded(call(*service, "before", "listRunningApps")));
  EXPECT_TRUE(succeeded(call(*service, "front-before", "frontmostApp")));
  const std::string self = "{\"pid\":" + std::to_string(getpid()) + "}";
  // This process has no window and is no application: answered the same either way.
  const Json identityBefore = call(*service, "identity-before", "appIdentity", self);
  ASSERT_TRUE(identityBefore.is_object());

  server.stop();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    auto [apps, appsTook] = timedCall(*service, "apps" + std::to_string(round), "listRunningApps");
    EXPECT_TRUE(succeeded(apps));
    EXPECT_LT(appsTook, kOneTimeoutBound);
    auto [identity, identityTook] =
        timedCall(*service, "identity" + std::to_string(round), "appIdentity", self);
    ASSERT_TRUE(identity.is_object());
    EXPECT_EQ(identity.value("error", ""), identityBefore.value("error", ""));
    EXPECT_LT(identityTook, kOneTimeoutBound);
    // Windows, captures and the front application answer too, whatever they say without a
    // server.
    for (auto [method, params] : {std::pair<std::string, std::string>{"windowCatalog", "{}"},
                                  {"captureWindow", "{\"windowId\":2097153}"},
                                  {"frontmostApp", "{}"},
                                  {"bringToFront", self}}) {
      auto [answer, took] = timedCall(*service, method + std::to_string(round), method, params);
      EXPECT_TRUE(answer.contains("ok")) << method;
      EXPECT_LT(took, kOneTimeoutBound) << method;
    }
  }
  auto [ping, pingTook] = timedCall(*service, "p", "ping");
  EXPECT_TRUE(succeeded(ping));
  EXPECT_LT(pingTook, kOneTimeoutBound);
  expectQuietExit(*service);
}

// Input and the clipboard open connections of their own once the shared one answers: a server
// that stops afterwards must cost them one timeout too, not a hang in a connection or a reply.
TEST(StalledDisplay, InputAndClipboardAnswerWhenTheServerStopsMidSession) {
  OwnXServer server;
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  char runtime[] = "/tmp/tavren-stall-XXXXXX";
  ASSERT_NE(mkdtemp(runtime), nullptr);
  auto service = startOn(server.display(), runtime);
  EXPECT_TRUE(succeeded(call(*service, "before", "listRunningApps")));
  // The poster's connection is open and used before the server stops.
  EXPECT_TRUE(call(*service, "move-before", "remoteDesktopInput",
                   R"({"type":"pointer","phase":"move","button":0,"x":10,"y":10})")
                  .contains("ok"));
  const std::string key = "{\"pid\":" + std::to_string(getpid()) + ",\"keyCode\":0}";

  server.stop();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    for (auto [method, params] : {std::pair<std::string, std::string>{
                                      "remoteDesktopInput",
                                      R"({"type":"pointer","phase":"move","button":0,"x":20,"y":20})"},
                                  {"remoteDesktopInput", R"({"type":"text","text":"é"})"},
                                  {"postKey", key},
                                  {"pasteboardSnapshot", R"({"name":"stalled"})"}}) {
      auto [answer, took] = timedCall(*service, method + std::to_string(round), method, params);
      EXPECT_TRUE(answer.contains("ok")) << method;
      EXPECT_LT(took, kOneTimeoutBound) << method << " " << params;
    }
  }
  expectQuietExit(*service);
  std::filesystem::remove_all(runtime);
}

}  // namespace
}  // namespace tavren
