#include "headless/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavren::headless {
namespace {

// Everything the child touches between fork and exec is prepared here, because after fork in a
// threaded process only async-signal-safe calls are allowed: no allocation, no locks.
struct ExecPlan {
  std::string path;
  std::vector<char*> argv;
  std::vector<char*> envp;
  const char* logPath = nullptr;
  int inheritedFd = -1;
  int deathSignal = SIGKILL;
  int errorFd = -1;
  pid_t parent = 0;
};

std::vector<char*> pointersTo(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (const std::string& s : strings) pointers.push_back(const_cast<char*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

[[noreturn]] void failInChild(int errorFd) {
  int code = errno;
  ssize_t ignored = write(errorFd, &code, sizeof code);
  (void)ignored;
  _exit(127);
}

[[noreturn]] void runChild(const ExecPlan& plan) {
  // A group of its own, so that stopping the desktop can signal whatever the program forks,
  // including daemons D-Bus activates for it, and a terminal's Ctrl-C only reaches the launcher.
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, plan.deathSignal);
  if (getppid() != plan.parent) _exit(127);  // the parent died before prctl took effect

  // Callers block signals for sigwait and ignore SIGPIPE; programs must start with defaults.
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);

  int null = open("/dev/null", O_RDWR);
  if (null < 0) failInChild(plan.errorFd);
  int out = null;
  if (plan.logPath != nullptr) {
    out = open(plan.logPath, O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out < 0) failInChild(plan.errorFd);
  }
  if (dup2(null, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) failInChild(plan.errorFd);

  // Other threads of the caller may have opened descriptors without O_CLOEXEC; none of them
  // belongs in a desktop program.
  close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
  if (plan.inheritedFd >= 0 && fcntl(plan.inheritedFd, F_SETFD, 0) < 0) {
    failInChild(plan.errorFd);
  }
  execve(plan.path.c_str(), plan.argv.data(), plan.envp.data());
  failInChild(plan.errorFd);
}

}  // namespace

std::string findExecutable(const std::string& name, const std::string& searchPath) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
  size_t begin = 0;
  while (begin <= searchPath.size()) {
    size_t end = searchPath.find(':', begin);
    if (end == std::string::npos) end = searchPath.size();
    std::string dir = searchPath.substr(begin, end - begin);
    if (dir.empty()) dir = ".";
    std::string candidate = dir + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    begin = end + 1;
  }
  return {};
}

std::string environmentValue(const std::vector<std::string>& environment, const std::string& key) {
  for (const std::string& entry : environment) {
    if (entry.size() > key.size() && entry[key.size()] == '=' &&
        entry.compare(0, key.size(), key) == 0) {
      return entry.substr(key.size() + 1);
    }
  }
  return {};
}

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
  if (request.argv.empty()) {
    *error = "empty command line";
    return -1;
  }
  ExecPlan plan;
  std::string searchPath = environmentValue(request.environment, "PATH");
  if (searchPath.empty()) searchPath = "/usr/local/bin:/usr/bin:/bin";
  plan.path = findExecutable(request.argv[0], searchPath);
  if (plan.path.empty()) {
    *error = "cannot start " + request.argv[0] + ": command not found";
    return -1;
  }
  plan.argv = pointersTo(request.argv);
  plan.envp = pointersTo(request.environment);
  if (!request.logPath.empty()) plan.logPath = request.logPath.c_str();
  plan.inheritedFd = request.inheritedFd;
  plan.deathSignal = request.deathSignal;
  plan.parent = getpid();

  // The child reports a failed exec through this pipe; a successful exec closes it empty.
  int errorPipe[2];
  if (!makePipe(errorPipe)) {
    *error = std::string("cannot create a pipe: ") + strerror(errno);
    return -1;
  }
  plan.errorFd = errorPipe[1];

  pid_t pid = fork();
  if (pid == 0) runChild(plan);
  int forkErrno = errno;
  close(errorPipe[1]);
  if (pid < 0) {
    close(errorPipe[0]);
    *error = "cannot start " + request.argv[0] + ": " + strerror(forkErrno);
    return -1;
  }
  setpgid(pid, pid);  // also here, so the group exists before anyone signals it

  int childErrno = 0;
  ssize_t n;
  do {
    n = read(errorPipe[0], &childErrno, sizeof childErrno);
  } while (n < 0 && errno == EINTR);
  close(errorPipe[0]);
  if (n > 0) {
    waitpid(pid, nullptr, 0);
    *error = "cannot start " + request.argv[0] + ": " + strerror(childErrno);
    return -1;
  }
  return pid;
}

}  // namespace tavren::headless
