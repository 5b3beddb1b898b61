// Starting desktop programs and ending every process they leave behind. Uses sh and sleep only;
// no display needed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "headless/child_process.h"
#include "headless/desktop_environment.h"
#include "process/child_spawn.h"
#include "headless/process_tree.h"

namespace tavren::headless {
namespace {

using namespace std::chrono_literals;

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class TempDir {
 public:
  TempDir() : path_("/tmp/headless-test-XXXXXX") { mkdtemp(path_.data()); }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

bool alive(pid_t pid) {
  std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  auto entry = procfs::parseProcStat(stat);
  return entry && entry->state != 'Z';
}

// Processes whose environment holds `marker`, the way stop() recognises its own.
std::vector<pid_t> liveCarriers(const std::string& marker) {
  std::vector<pid_t> found;
  for (const ProcStat& e : readProcessTable()) {
    if (e.state != 'Z' && environmentContains(e.pid, marker).value_or(false)) {
      found.push_back(e.pid);
    }
  }
  return found;
}

pid_t spawnShell(const std::string& script, const std::string& marker, const std::string& log) {
  SpawnRequest request;
  request.argv = {"sh", "-c", script};
  request.environment = overlayEnvironment(processEnvironment(), {}, {});
  if (!marker.empty()) request.environment.push_back(marker);
  request.logPath = log;
  std::string error;
  pid_t pid = spawnChild(request, &error);
  EXPECT_GT(pid, 0) << error;
  return pid;
}

TEST(SpawnChild, ReportsWhatCannotBeExecutedInsteadOfAPid) {
  std::string error;
  SpawnRequest missing;
  missing.argv = {"no-such-program-for-the-test"};
  missing.environment = {"PATH=/usr/bin:/bin"};
  EXPECT_EQ(spawnChild(missing, &error), -1);
  EXPECT_NE(error.find("no-such-program-for-the-test"), std::string::npos) << error;

  TempDir dir;
  SpawnRequest notExecutable;
  notExecutable.argv = {dir.file("data")};
  std::ofstream(notExecutable.argv[0]) << "echo ran\n";  // created without execute permission
  EXPECT_EQ(spawnChild(notExecutable, &error), -1);
  EXPECT_NE(error.find("ermission denied"), std::string::npos) << error;

  SpawnRequest badLog;
  badLog.argv = {"true"};
  badLog.environment = {"PATH=/usr/bin:/bin"};
  badLog.logPath = dir.file("missing-dir/log");
  EXPECT_EQ(spawnChild(badLog, &error), -1);
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST(SpawnChild, StartsCleanEvenFromACallerThatBlocksAndIgnoresSignals) {
  TempDir dir;
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  auto oldPipe = signal(SIGPIPE, SIG_IGN);
  // No O_CLOEXEC, as another thread of the caller might leave it; high, so that it cannot be
  // confused with the descriptor `ls` reads the directory through.
  int nullFd = open("/dev/null", O_RDONLY);
  int leaked = fcntl(nullFd, F_DUPFD, 60);
  close(nullFd);

  pid_t pid = spawnShell(
      "grep -E '^(SigBlk|SigIgn)' /proc/self/status; readlink /proc/self/fd/0; "
      "ps -o pgid= -p $$; ls /proc/self/fd | tr '\\n' ' '",
      "", dir.file("out"));
  int status = 0;
  waitpid(pid, &status, 0);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  signal(SIGPIPE, oldPipe);
  close(leaked);

  std::string out = readFile(dir.file("out"));
  EXPECT_NE(out.find("SigBlk:\t0000000000000000"), std::string::npos) << out;
  EXPECT_NE(out.find("SigIgn:\t0000000000000000"), std::string::npos) << out;
  EXPECT_NE(out.find("/dev/null"), std::string::npos) << out;
  // ps right-aligns the group id in a column as wide as the largest pid it expects.
  const auto group = out.find(std::to_string(pid) + "\n");
  ASSERT_NE(group, std::string::npos) << "own group: " << out;
  EXPECT_TRUE(group == 0 || out[group - 1] == ' ' || out[group - 1] == '\n') << out;
  EXPECT_EQ(out.find(" " + std::to_string(leaked) + " "), std::string::npos) << out;
}

TEST(SpawnChild, KeepsTheInheritedDescriptorUnderItsNumber) {
  int fds[2];
  ASSERT_TRUE(makePipe(fds));
  EXPECT_GT(fds[0], 2);
  EXPECT_GT(fds[1], 2);
  SpawnRequest request;
  request.argv = {"sh", "-c", "echo 42 >&" + std::to_string(fds[1])};
  request.environment = {"PATH=/usr/bin:/bin"};
  request.inheritedFd = fds[1];
  std::string error;
  pid_t pid = spawnChild(request, &error);
  ASSERT_GT(pid, 0) << error;
  close(fds[1]);
  char buf[8] = {};
  EXPECT_EQ(read(fds[0], buf, sizeof buf), 3);
  EXPECT_STREQ(buf, "42\n");
  close(fds[0]);
  waitpid(pid, nullptr, 0);
}

TEST(SelectOwnedProcesses, FindsDescendantsGroupMembersAndCarriersButNeverTheCaller) {
  // 100 started 101, which started 102; 200 is a D-Bus-activated daemon: orphaned to init but
  // still in group 100; 300 is orphaned into a group of its own but carries the marker and
  // has a child 301; 400 is a stranger; 500 is the caller, 501 shares its group; 103 a zombie.
  auto process = [](pid_t pid, pid_t ppid, pid_t pgid, char state) {
    ProcStat p;
    p.pid = pid;
    p.ppid = ppid;
    p.pgid = pgid;
    p.state = state;
    return p;
  };
  std::vector<ProcStat> table = {
      process(1, 0, 1, 'S'),       process(2, 0, 0, 'S'),       process(10, 2, 0, 'I'),
      process(100, 500, 100, 'S'), process(101, 100, 100, 'S'), process(102, 101, 102, 'S'),
      process(103, 100, 100, 'Z'), process(200, 1, 100, 'S'),   process(300, 1, 300, 'S'),
      process(301, 300, 301, 'S'), process(400, 1, 400, 'S'),   process(500, 1, 500, 'S'),
      process(501, 500, 500, 'S'), process(502, 100, 500, 'S')};
  Ownership owner;
  owner.roots = {100};
  owner.groups = {100};
  owner.self = 500;
  owner.selfGroup = 500;
  owner.carriesMarker = [](const ProcStat& e) { return e.pid == 300 || e.pid == 500; };
  EXPECT_EQ(selectOwnedProcesses(table, owner), (std::vector<pid_t>{100, 101, 102, 200, 300, 301}));

  owner.carriesMarker = nullptr;
  owner.roots.clear();  // the leader was reaped: group members and their children still count
  EXPECT_EQ(selectOwnedProcesses(table, owner), (std::vector<pid_t>{100, 101, 102, 200}));
}

TEST(EndProcessTree, EndsOrphanedDaemonsAndLeavesOthersAlone) {
  TempDir dir;
  std::string marker = "HEADLESS_TEST_MARKER=" + dir.file("");
  // A daemon that escapes both the group and the parent chain, as D-Bus activated services and
  // setsid programs do; only the marker leads to it.
  pid_t root = spawnShell("(setsid sleep 60 &); exec sleep 61", marker, "");
  // Started by the caller, not the desktop: same parent, no marker, a group of its own.
  pid_t other = fork();
  if (other == 0) {
    setpgid(0, 0);
    execlp("sleep", "sleep", "60", nullptr);
    _exit(1);
  }
  // Both sleeps, once the shell and its subshell are gone.
  bool settled = false;
  for (int i = 0; i < 400 && !settled; ++i) {
    std::this_thread::sleep_for(5ms);
    settled = liveCarriers(marker).size() == 2;
  }
  ASSERT_TRUE(settled);

  endProcessTree({root}, marker, 2s);
  EXPECT_TRUE(liveCarriers(marker).empty());
  EXPECT_EQ(waitpid(root, nullptr, WNOHANG), -1) << "the child is reaped";
  EXPECT_TRUE(alive(other));
  kill(other, SIGKILL);
  waitpid(other, nullptr, 0);
}

TEST(EndProcessTree, KillsWhatIgnoresSigtermAfterTheGracePeriod) {
  pid_t stubborn = spawnShell("trap '' TERM; while :; do sleep 0.05; done", "", "");
  std::this_thread::sleep_for(50ms);
  auto start = std::chrono::steady_clock::now();
  endProcessTree({stubborn}, "", 200ms);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(alive(stubborn));
  EXPECT_EQ(waitpid(stubborn, nullptr, WNOHANG), -1);
  EXPECT_GE(took, 200ms);
  EXPECT_LT(took, 1500ms);
}

TEST(EndProcessTree, SkipsAChildSomeoneElseReaped) {
  // Its pid may already name another process; it must not be signalled.
  pid_t gone = spawnShell("exit 0", "", "");
  waitpid(gone, nullptr, 0);
  auto start = std::chrono::steady_clock::now();
  endProcessTree({gone}, "", 2s);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
}

}  // namespace
}  // namespace tavren::headless
