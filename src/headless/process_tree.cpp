#include "headless/process_tree.h"

#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <map>
#include <thread>
#include <unordered_map>
#include <utility>

namespace tavren::headless {
namespace {

using procfs::readProcFile;

// The process id a /proc entry is named by; none for the other entries.
std::optional<pid_t> processIdOf(std::string_view name) {
  pid_t pid;
  auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (name.empty() || ec != std::errc() || end != name.data() + name.size()) return std::nullopt;
  return pid;
}

}  // namespace

std::vector<ProcStat> readProcessTable() {
  std::vector<ProcStat> table;
  DIR* dir = opendir("/proc");
  if (dir == nullptr) return table;
  while (dirent* ent = readdir(dir)) {
    const std::optional<pid_t> pid = processIdOf(ent->d_name);
    if (!pid) continue;
    if (auto entry = procfs::readProcStat(*pid)) table.push_back(std::move(*entry));
  }
  closedir(dir);
  return table;
}

std::optional<bool> environmentContains(pid_t pid, std::string_view entry) {
  std::string text;
  if (!readProcFile("/proc/" + std::to_string(pid) + "/environ", &text) || text.empty()) {
    return std::nullopt;
  }
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\0', begin);
    if (end == std::string::npos) end = text.size();
    if (std::string_view(text).substr(begin, end - begin) == entry) return true;
    begin = end + 1;
  }
  return false;
}

std::vector<pid_t> selectOwnedProcesses(const std::vector<ProcStat>& table,
                                        const Ownership& owner) {
  std::unordered_map<pid_t, std::vector<const ProcStat*>> childrenOf;
  for (const ProcStat& e : table) childrenOf[e.ppid].push_back(&e);

  auto excluded = [&](const ProcStat& e) {
    return e.pid <= 1 || e.pid == owner.self || e.pgid == owner.selfGroup || e.state == 'Z';
  };
  std::set<pid_t> owned;
  std::vector<const ProcStat*> pending;
  for (const ProcStat& e : table) {
    // Kernel threads are children of kthreadd (pid 2) and never ours.
    if (excluded(e) || e.pid == 2 || e.ppid == 2) continue;
    bool seed = owner.roots.count(e.pid) > 0 || owner.groups.count(e.pgid) > 0 ||
                (owner.carriesMarker && owner.carriesMarker(e));
    if (seed && owned.insert(e.pid).second) pending.push_back(&e);
  }
  while (!pending.empty()) {
    const ProcStat* parent = pending.back();
    pending.pop_back();
    auto it = childrenOf.find(parent->pid);
    if (it == childrenOf.end()) continue;
    for (const ProcStat* child : it->second) {
      if (!excluded(*child) && owned.insert(child->pid).second) pending.push_back(child);
    }
  }
  return {owned.begin(), owned.end()};
}

void endProcessTree(const std::vector<pid_t>& children, const std::string& markerEntry,
                    std::chrono::milliseconds grace) {
  Ownership owner;
  owner.self = getpid();
  owner.selfGroup = getpgrp();
  for (pid_t child : children) {
    // Only a child we have not reaped is still ours; WNOWAIT leaves a zombie in place so that
    // neither its pid nor its group id can be handed to a stranger while we are signalling.
    siginfo_t info = {};
    if (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
      owner.roots.insert(child);
      owner.groups.insert(child);
    }
  }
  std::map<std::pair<pid_t, unsigned long long>, bool> markerSeen;
  if (!markerEntry.empty()) {
    owner.carriesMarker = [&](const ProcStat& e) {
      // Remembered per process (a pid and its start time), except when the environment could
      // not be read: a process caught in exec must be looked at again in the next sweep.
      auto key = std::make_pair(e.pid, e.startTicks);
      auto it = markerSeen.find(key);
      if (it != markerSeen.end()) return it->second;
      std::optional<bool> carries = environmentContains(e.pid, markerEntry);
      if (carries) markerSeen.emplace(key, *carries);
      return carries.value_or(false);
    };
  }

  std::set<pid_t> terminated;
  // True once nothing of ours is alive; signals what is, new arrivals included.
  auto sweepUntil = [&](int sig, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
      std::vector<pid_t> alive = selectOwnedProcesses(readProcessTable(), owner);
      if (alive.empty()) return true;
      for (pid_t pid : alive) {
        if (sig == SIGKILL || terminated.insert(pid).second) kill(pid, sig);
      }
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  auto now = std::chrono::steady_clock::now;
  if (!sweepUntil(SIGTERM, now() + grace)) sweepUntil(SIGKILL, now() + std::chrono::seconds(1));

  for (pid_t child : owner.roots) {
    pid_t r;
    do {
      r = waitpid(child, nullptr, WNOHANG);
    } while (r < 0 && errno == EINTR);
  }
}

}  // namespace tavren::headless
