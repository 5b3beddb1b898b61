#include "headless/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "process/child_spawn.h"

namespace tavren::headless {

bool makePipe(int fds[2]) {
  int raw[2];
  if (pipe2(raw, O_CLOEXEC) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    fds[i] = raw[i];
    if (raw[i] > 2) continue;
    fds[i] = fcntl(raw[i], F_DUPFD_CLOEXEC, 3);
    close(raw[i]);
  }
  if (fds[0] >= 0 && fds[1] >= 0) return true;
  if (fds[0] >= 0) close(fds[0]);
  if (fds[1] >= 0) close(fds[1]);
  return false;
}

pid_t spawnChild(const SpawnRequest& request, std::string* error) {
  int log = -1;
  if (!request.logPath.empty()) {
    log = open(request.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (log < 0) {
      *error = "cannot open " + request.logPath + ": " + strerror(errno);
      return -1;
    }
  }
  tavren::SpawnRequest spawn;
  spawn.argv = request.argv;
  spawn.environment = request.environment;
  spawn.stdoutFd = log;
  spawn.stderrFd = log;
  spawn.inheritedFd = request.inheritedFd;
  spawn.ownProcessGroup = true;
  spawn.deathSignal = request.deathSignal;
  pid_t pid = spawnProcess(spawn, error);
  if (log >= 0) close(log);
  return pid;
}

}  // namespace tavren::headless
