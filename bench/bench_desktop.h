// What the benches that need a screen share: their own headless desktop, the service on it, and
// programs run there to compare against.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "cli/service_process.h"
#include "core/json.h"
#include "headless/headless_desktop.h"
#include "process/child_spawn.h"

namespace tavren::bench {

// Says why on standard error, after the bench's name, and ends the bench.
[[noreturn]] inline void fail(const std::string& why) {
  std::cerr << program_invocation_short_name << ": " << why << "\n";
  std::exit(1);
}

inline std::unique_ptr<headless::HeadlessDesktop> startDesktop() {
  std::string error;
  auto desktop = headless::HeadlessDesktop::start(headless::DesktopOptions{}, &error);
  if (!desktop) fail(error);
  return desktop;
}

inline std::unique_ptr<ServiceProcess> startService(const headless::HeadlessDesktop& desktop) {
  std::string error;
  auto service = ServiceProcess::start({sibling("tavren-service")}, desktop.environment(), &error);
  if (!service) fail(error);
  return service;
}

// Runs a program found on PATH with this environment ("K=V") to its end, reading all it
// writes; its standard output, or none when it did not exit with status 0 within a minute.
inline std::optional<std::string> runToEnd(std::vector<std::string> args,
                                           std::vector<std::string> environment) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) fail("pipe");
  SpawnRequest request;
  request.argv = std::move(args);
  request.environment = std::move(environment);
  request.stdoutFd = out[1];
  request.stderrFd = STDERR_FILENO;
  std::string error;
  const pid_t pid = spawnProcess(request, &error);
  close(out[1]);
  if (pid < 0) {
    close(out[0]);
    return std::nullopt;
  }
  // A peer that hangs would hang the bench: it gets a minute, then is killed and counts as
  // failed.
  std::string text;
  char buffer[65536];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  bool timedOut = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{.fd = out[0], .events = POLLIN, .revents = 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) == 0) {
      timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return text;
}

// Waits until the application's tree is readable through the service: it registers with the
// accessibility bus a little after its window shows.
inline void awaitTreeRows(ServiceProcess& service, pid_t pid) {
  for (int i = 0; i < 200; ++i) {
    const std::string id = "w" + std::to_string(i);
    service.send(requestLine(id, "axTree", "{\"pid\":" + std::to_string(pid) + "}"));
    auto line = service.responseFor(id, std::chrono::seconds(30));
    if (line && !Json::parse(*line)["result"]["elements"].empty()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  fail("application never became readable");
}

}  // namespace tavren::bench
