#include "process/child_spawn.h"

#include <glib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace tavren {
namespace {

// What the child does between fork and exec, where only async-signal-safe calls are allowed:
// everything it reads is prepared before.
struct ChildSetup {
  bool ownProcessGroup = false;
  int deathSignal = 0;
  pid_t parent = 0;
};

void setUpChild(gpointer data) {
  const auto* setup = static_cast<const ChildSetup*>(data);
  // A group of its own, so that stopping the program can signal whatever it forks, and a
  // terminal's Ctrl-C only reaches the caller.
  if (setup->ownProcessGroup) setpgid(0, 0);
  if (setup->deathSignal != 0) {
    prctl(PR_SET_PDEATHSIG, setup->deathSignal);
    if (getppid() != setup->parent) _exit(127);  // the parent died before prctl took effect
  }
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

// A NULL-terminated array pointing into `strings`.
std::vector<gchar*> pointersTo(const std::vector<std::string>& strings) {
  std::vector<gchar*> pointers;
  pointers.reserve(strings.size() + 1);
  for (const std::string& s : strings) pointers.push_back(const_cast<gchar*>(s.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

pid_t spawnProcess(const SpawnRequest& request, std::string* error) {
  if (request.argv.empty()) {
    *error = "empty command line";
    return -1;
  }
  std::vector<gchar*> argv = pointersTo(request.argv);
  std::vector<gchar*> envp = pointersTo(request.environment);
  ChildSetup setup{request.ownProcessGroup, request.deathSignal, getpid()};
  auto flags = static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH_FROM_ENVP);
  if (request.stdoutFd < 0) flags = static_cast<GSpawnFlags>(flags | G_SPAWN_STDOUT_TO_DEV_NULL);
  if (request.stderrFd < 0) flags = static_cast<GSpawnFlags>(flags | G_SPAWN_STDERR_TO_DEV_NULL);
  const gint inherited[] = {request.inheritedFd};
  const gsize inheritedCount = request.inheritedFd >= 0 ? 1 : 0;
  GPid pid = 0;
  GError* failure = nullptr;
  if (!g_spawn_async_with_pipes_and_fds(nullptr, argv.data(), envp.data(), flags, setUpChild,
                                        &setup, request.stdinFd, request.stdoutFd, request.stderrFd,
                                        inherited, inherited, inheritedCount, &pid, nullptr,
                                        nullptr, nullptr, &failure)) {
    *error = "cannot start " + request.argv[0] + ": " + failure->message;
    g_error_free(failure);
    return -1;
  }
  if (request.ownProcessGroup) setpgid(pid, pid);  // also here: the group exists on return
  return pid;
}

std::vector<std::string> overlayEnvironment(const std::vector<std::string>& base,
                                            const std::map<std::string, std::string>& overlay,
                                            const std::vector<std::string>& dropped) {
  gchar** env = g_new0(gchar*, 1);
  for (const std::string& entry : base) {
    size_t eq = entry.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    // Without overwriting: a duplicated key keeps its first copy, the one getenv reads.
    env = g_environ_setenv(env, entry.substr(0, eq).c_str(), entry.c_str() + eq + 1, FALSE);
  }
  for (const std::string& key : dropped) env = g_environ_unsetenv(env, key.c_str());
  for (const auto& [key, value] : overlay) {
    env = g_environ_setenv(env, key.c_str(), value.c_str(), TRUE);
  }
  std::vector<std::string> result(env, env + g_strv_length(env));
  g_strfreev(env);
  return result;
}

std::vector<std::string> processEnvironment() {
  gchar** env = g_get_environ();
  std::vector<std::string> entries(env, env + g_strv_length(env));
  g_strfreev(env);
  return entries;
}

}  // namespace tavren
