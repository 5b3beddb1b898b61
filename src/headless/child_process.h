// Starting the programs that make up a headless desktop.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace tavren::headless {

struct SpawnRequest {
  std::vector<std::string> argv;         // argv[0] is looked up in the PATH of `environment`
  std::vector<std::string> environment;  // complete, as "K=V"
  std::string logPath;                   // stdout and stderr appended here; empty: /dev/null
  int inheritedFd = -1;  // stays open in the child under the same number (Xvfb -displayfd, ...)
  // Sent to the child when the thread that started it dies. SIGTERM for programs known to clean
  // up on it: the AT-SPI bus launcher then ends its own bus, which SIGKILL would orphan.
  int deathSignal = SIGKILL;
};

// A close-on-exec pipe whose ends are never 0, 1 or 2, which a child's stdio would overwrite
// when the caller runs with a standard descriptor closed.
bool makePipe(int fds[2]);

// Starts the program in a process group of its own with stdin on /dev/null. The child gets
// request.deathSignal when the calling *thread* exits (PR_SET_PDEATHSIG), so call this from a
// thread that outlives the child. Returns the pid once exec has succeeded; on failure -1 and a
// one-line *error.
pid_t spawnChild(const SpawnRequest& request, std::string* error);

}  // namespace tavren::headless
