#include "input/release_on_signal.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace tavren {
namespace {

int gWakeFd = -1;  // write end of the pipe; set once, before any handler is installed

void onSignal(int signal) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] ssize_t n = ::write(gWakeFd, &byte, 1);
  errno = saved;
}

}  // namespace

void releaseOnTerminationSignals(std::function<void()> release) {
  int fds[2];
  if (gWakeFd >= 0 || ::pipe2(fds, O_CLOEXEC) != 0) return;
  ::fcntl(fds[1], F_SETFL, O_NONBLOCK);  // a full pipe already holds a wake-up
  gWakeFd = fds[1];
  std::thread([readFd = fds[0], release = std::move(release)] {
    unsigned char signal = 0;
    for (;;) {
      ssize_t n = ::read(readFd, &signal, 1);
      if (n == 1) break;
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    release();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    _exit(128 + signal);
  }).detach();

  struct sigaction action {};
  action.sa_handler = onSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &action, nullptr);
}

}  // namespace tavren
