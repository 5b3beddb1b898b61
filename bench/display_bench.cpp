// The virtual display of a service started with no display: "remoteDisplayEnsure" until the new
// display answers an X connection, and until an application started on it is readable through
// the service (its window in "windowCatalog", its title in "axTree"); then "remoteDisplayRelease".
// Beside it, in the same run: Xvfb alone until it answers, and the headless desktop launcher
// (server, buses, window manager) until it is ready.

#include <signal.h>
#include <sys/wait.h>

#include <iostream>
#include <thread>

#include "bench_desktop.h"
#include "core/json.h"
#include "headless/child_process.h"
#include "platform/linux/x11/x_link.h"

namespace tavren::bench {
namespace {

using namespace std::chrono_literals;

constexpr int kRounds = 5;
const std::string kTitle = "Display bench window";

double millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

Json call(ServiceProcess& service, const std::string& id, const std::string& method,
          const Json& params) {
  service.send(requestLine(id, method, params.dump()));
  auto line = service.responseFor(id, 30s);
  if (!line) fail(method + " got no answer");
  Json response = Json::parse(*line, nullptr, false);
  if (response.value("ok", false) != true) fail(method + ": " + *line);
  return response["result"];
}

void waitForServer(const std::string& display, Clock::time_point deadline) {
  while (!x11::XLink::connect(display)) {
    if (Clock::now() > deadline) fail(display + " never answered");
    std::this_thread::sleep_for(1ms);
  }
}

// Xvfb on its own, started the way the launcher starts it, until a client connects.
double xvfbAlone() {
  int fds[2];
  if (!headless::makePipe(fds)) fail("pipe");
  SpawnRequest request;
  request.argv = {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1920x1080x24",
                  "-dpi", "96", "-nolisten", "tcp", "-noreset"};
  request.environment = processEnvironment();
  request.inheritedFd = fds[1];
  request.ownProcessGroup = true;
  const auto start = Clock::now();
  std::string error;
  const pid_t pid = spawnProcess(request, &error);
  close(fds[1]);
  if (pid < 0) fail(error);
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  waitForServer(":" + number, start + 10s);
  const double ms = millis(Clock::now() - start);
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  return ms;
}

double launcherAlone() {
  const auto start = Clock::now();
  auto desktop = startDesktop();
  const double ms = millis(Clock::now() - start);
  desktop->stop();
  return ms;
}

struct ServiceRound {
  double ensure = 0, answers = 0, listed = 0, readable = 0, release = 0;
};

ServiceRound serviceRound() {
  std::string error;
  auto service = ServiceProcess::start({sibling("tavren-service")},
                                       {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""},
                                        {"DBUS_SESSION_BUS_ADDRESS", ""}, {"AT_SPI_BUS_ADDRESS", ""}},
                                       &error);
  if (!service) fail(error);
  call(*service, "ping", "ping", Json::object());  // the service is up
  ServiceRound round;
  const auto start = Clock::now();
  Json made = call(*service, "ensure", "remoteDisplayEnsure", {{"owner", "bench"}});
  round.ensure = millis(Clock::now() - start);
  const std::string display = ":" + made.value("displayId", "");
  waitForServer(display, Clock::now() + 10s);
  round.answers = millis(Clock::now() - start);

  SpawnRequest app;
  app.argv = {sibling("tavren-fixture-titled-window"), "--title", kTitle, "--size", "400x300"};
  app.environment = overlayEnvironment(
      processEnvironment(),
      {{"DISPLAY", display}, {"GDK_BACKEND", "x11"}, {"GSETTINGS_BACKEND", "memory"},
       {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}},
      {"WAYLAND_DISPLAY", "AT_SPI_BUS_ADDRESS", "NO_AT_BRIDGE"});
  app.ownProcessGroup = true;
  const pid_t pid = spawnProcess(app, &error);
  if (pid < 0) fail(error);
  int n = 0;
  for (const auto deadline = Clock::now() + 20s; round.listed == 0; ++n) {
    for (const Json& w : call(*service, "c" + std::to_string(n), "windowCatalog", Json::object())) {
      if (w.value("pid", 0) == pid && w.value("title", "") == kTitle) {
        round.listed = millis(Clock::now() - start);
      }
    }
    if (Clock::now() > deadline) fail("the window never appeared");
    std::this_thread::sleep_for(2ms);
  }
  for (const auto deadline = Clock::now() + 20s; round.readable == 0; ++n) {
    Json tree = call(*service, "t" + std::to_string(n), "axTree", {{"pid", pid}, {"maxElements", 20}});
    if (tree.dump().find(kTitle) != std::string::npos) round.readable = millis(Clock::now() - start);
    if (Clock::now() > deadline) fail("the window's accessible tree never came");
    std::this_thread::sleep_for(2ms);
  }
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  const auto releasing = Clock::now();
  call(*service, "release", "remoteDisplayRelease", {{"owner", "bench"}});
  round.release = millis(Clock::now() - releasing);
  service->closeInput();
  service->wait(10s);
  return round;
}

}  // namespace
}  // namespace tavren::bench

int main() {
  using namespace tavren::bench;
  std::vector<double> xvfb, launcher, ensure, answers, listed, readable, release;
  for (int i = 0; i < kRounds; ++i) {
    xvfb.push_back(xvfbAlone());
    launcher.push_back(launcherAlone());
    ServiceRound r = serviceRound();
    ensure.push_back(r.ensure);
    answers.push_back(r.answers);
    listed.push_back(r.listed);
    readable.push_back(r.readable);
    release.push_back(r.release);
  }
  auto figures = [](const std::vector<double>& ms) {
    return tavren::Json{{"medianMs", quantile(ms, 0.5)}, {"maxMs", quantile(ms, 1.0)}};
  };
  std::cout << tavren::Json{{"bench", "display"},
                            {"rounds", kRounds},
                            {"peerXvfbUntilAnswering", figures(xvfb)},
                            {"peerLauncherUntilReady", figures(launcher)},
                            {"ensureResponse", figures(ensure)},
                            {"ensureUntilDisplayAnswers", figures(answers)},
                            {"ensureUntilAppWindowListed", figures(listed)},
                            {"ensureUntilAppTreeReadable", figures(readable)},
                            {"releaseResponse", figures(release)}}
                   .dump(2)
            << "\n";
}
