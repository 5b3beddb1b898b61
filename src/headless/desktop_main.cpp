// tavren-desktop: a headless desktop for people and scripts.
//
//   tavren-desktop [--size WxH] [--no-wm] [--] [APP ARGS...]
//
// Prints the desktop's environment as `export K='V'` lines, then keeps the desktop up until
// stdin reaches end of file or a SIGTERM, SIGINT or SIGHUP arrives.
#include <glib.h>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <charconv>
#include <string>
#include <vector>

#include "headless/desktop_environment.h"
#include "headless/headless_desktop.h"

namespace {

using tavren::headless::DesktopOptions;
using tavren::headless::HeadlessDesktop;

constexpr const char* kUsage = "usage: tavren-desktop [--size WxH] [--no-wm] [--] [APP ARGS...]\n";

bool parseSize(const std::string& text, int* width, int* height) {
  size_t x = text.find('x');
  if (x == std::string::npos) return false;
  const char* begin = text.data();
  const char* end = begin + text.size();
  auto w = std::from_chars(begin, begin + x, *width);
  auto h = std::from_chars(begin + x + 1, end, *height);
  return w.ec == std::errc() && w.ptr == begin + x && h.ec == std::errc() && h.ptr == end &&
         *width > 0 && *height > 0;
}

// Returns 0 on success, else the exit status for a usage error.
int parseArguments(int argc, char** argv, DesktopOptions* options) {
  std::vector<std::string> app;
  int i = 1;
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "--size" && i + 1 < argc) {
      if (!parseSize(argv[++i], &options->width, &options->height)) {
        fprintf(stderr, "tavren-desktop: bad size '%s', expected WxH\n", argv[i]);
        return 2;
      }
    } else if (arg == "--no-wm") {
      options->windowManager = false;
    } else if (arg == "--help" || arg == "-h") {
      fputs(kUsage, stdout);
      return -1;
    } else if (!arg.empty() && arg[0] == '-') {
      fprintf(stderr, "tavren-desktop: unknown option '%s'\n%s", arg.c_str(), kUsage);
      return 2;
    } else {
      break;
    }
  }
  for (; i < argc; ++i) app.push_back(argv[i]);
  if (!app.empty()) options->apps.push_back(app);
  return 0;
}

// Blocks until stdin ends or one of the blocked signals arrives.
void waitForEnd(const sigset_t& signals) {
  int sigfd = signalfd(-1, &signals, SFD_CLOEXEC);
  bool stdinOpen = true;
  for (;;) {
    pollfd fds[2] = {{sigfd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    int ready = poll(fds, stdinOpen ? 2 : 1, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0) break;
    if (stdinOpen && fds[1].revents != 0) {
      char buf[4096];
      ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) break;
    }
  }
  if (sigfd >= 0) close(sigfd);
}

}  // namespace

int main(int argc, char** argv) {
  DesktopOptions options;
  int status = parseArguments(argc, argv, &options);
  if (status != 0) return status < 0 ? 0 : status;

  // Blocked before anything starts, so that a signal during start-up is not lost and ends the
  // desktop in order instead of leaving it behind.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::string error;
  auto desktop = HeadlessDesktop::start(options, &error);
  if (!desktop) {
    fprintf(stderr, "tavren-desktop: %s\n", error.c_str());
    return 1;
  }
  for (const auto& [key, value] : desktop->environment()) {
    gchar* quoted = g_shell_quote(value.c_str());
    printf("export %s=%s\n", key.c_str(), quoted);
    g_free(quoted);
  }
  fflush(stdout);
  waitForEnd(signals);
  desktop->stop();
  return 0;
}
