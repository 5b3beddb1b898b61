// Starting a program as a child process, through GLib's spawner.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace tavren {

struct SpawnRequest {
  std::vector<std::string> argv;         // argv[0] is looked up in the PATH of `environment`
  std::vector<std::string> environment;  // complete, as "K=V"
  // The child's standard descriptors (dup'ed onto 0, 1 and 2); -1: /dev/null.
  int stdinFd = -1;
  int stdoutFd = -1;
  int stderrFd = -1;
  int inheritedFd = -1;  // stays open in the child under the same number (Xvfb -displayfd, ...)
  bool ownProcessGroup = false;  // a process group of its own, signalled as a whole later
  // Sent to the child when the thread that started it dies (PR_SET_PDEATHSIG); 0: none.
  int deathSignal = 0;
};

// Starts the program with default signal dispositions and an empty signal mask (callers may
// block or ignore signals), and no descriptor of ours but the ones the request names. The
// child is not reaped for the caller. Returns the pid once exec has succeeded; on failure -1
// and a one-line *error.
pid_t spawnProcess(const SpawnRequest& request, std::string* error);

// `base` ("K=V" entries, the first copy of a key counting, as getenv reads it; malformed ones
// left out) without the `dropped` keys and with `overlay` set.
std::vector<std::string> overlayEnvironment(const std::vector<std::string>& base,
                                            const std::map<std::string, std::string>& overlay,
                                            const std::vector<std::string>& dropped);

// This process's environment as "K=V" entries.
std::vector<std::string> processEnvironment();

}  // namespace tavren
