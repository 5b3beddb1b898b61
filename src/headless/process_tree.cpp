#include "headless/process_tree.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
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

// Reads a whole small /proc file; /proc reports size 0, so no stat-then-read.
bool readProcFile(const std::string& path, std::string* out) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out->clear();
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out->append(buf, static_cast<size_t>(n));
  close(fd);
  return n == 0;
}

template <typename T>
bool parseNumber(std::string_view field, T* value) {
  auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), *value);
  return ec == std::errc() && end == field.data() + field.size();
}

}  // namespace

std::optional<ProcessEntry> parseProcStat(std::string_view text) {
  size_t open = text.find('(');
  size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return std::nullopt;
  }
  ProcessEntry entry;
  std::string_view pidField = text.substr(0, open);
  while (!pidField.empty() && pidField.back() == ' ') pidField.remove_suffix(1);
  if (!parseNumber(pidField, &entry.pid)) return std::nullopt;

  // Fields after the name: state ppid pgrp session tty tpgid flags minflt cminflt majflt
  // cmajflt utime stime cutime cstime priority nice threads itrealvalue starttime ...
  std::vector<std::string_view> fields;
  std::string_view rest = text.substr(close + 1);
  while (fields.size() < 20) {
    size_t start = rest.find_first_not_of(" \n");
    if (start == std::string_view::npos) break;
    size_t end = rest.find_first_of(" \n", start);
    if (end == std::string_view::npos) end = rest.size();
    fields.push_back(rest.substr(start, end - start));
    rest = rest.substr(end);
  }
  if (fields.size() < 20 || fields[0].size() != 1) return std::nullopt;
  entry.state = fields[0][0];
  unsigned long long user = 0, system = 0;
  if (!parseNumber(fields[1], &entry.ppid) || !parseNumber(fields[2], &entry.pgid) ||
      !parseNumber(fields[11], &user) || !parseNumber(fields[12], &system) ||
      !parseNumber(fields[19], &entry.startTime)) {
    return std::nullopt;
  }
  entry.cpuTicks = user + system;
  return entry;
}

std::optional<ProcessEntry> readProcessEntry(pid_t pid) {
  std::string text;
  if (!readProcFile("/proc/" + std::to_string(pid) + "/stat", &text)) return std::nullopt;
  return parseProcStat(text);
}

std::vector<ProcessEntry> readProcessTable() {
  std::vector<ProcessEntry> table;
  DIR* dir = opendir("/proc");
  if (dir == nullptr) return table;
  std::string text;
  while (dirent* ent = readdir(dir)) {
    pid_t pid;
    std::string_view name = ent->d_name;
    if (!parseNumber(name, &pid)) continue;
    if (!readProcFile("/proc/" + std::string(name) + "/stat", &text)) continue;
    if (auto entry = parseProcStat(text)) table.push_back(*entry);
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

std::vector<pid_t> selectOwnedProcesses(const std::vector<ProcessEntry>& table,
                                        const Ownership& owner) {
  std::unordered_map<pid_t, std::vector<const ProcessEntry*>> childrenOf;
  for (const ProcessEntry& e : table) childrenOf[e.ppid].push_back(&e);

  auto excluded = [&](const ProcessEntry& e) {
    return e.pid <= 1 || e.pid == owner.self || e.pgid == owner.selfGroup || e.state == 'Z';
  };
  std::set<pid_t> owned;
  std::vector<const ProcessEntry*> pending;
  for (const ProcessEntry& e : table) {
    // Kernel threads are children of kthreadd (pid 2) and never ours.
    if (excluded(e) || e.pid == 2 || e.ppid == 2) continue;
    bool seed = owner.roots.count(e.pid) > 0 || owner.groups.count(e.pgid) > 0 ||
                (owner.carriesMarker && owner.carriesMarker(e));
    if (seed && owned.insert(e.pid).second) pending.push_back(&e);
  }
  while (!pending.empty()) {
    const ProcessEntry* parent = pending.back();
    pending.pop_back();
    auto it = childrenOf.find(parent->pid);
    if (it == childrenOf.end()) continue;
    for (const ProcessEntry* child : it->second) {
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
    owner.carriesMarker = [&](const ProcessEntry& e) {
      // Remembered per process (a pid and its start time), except when the environment could
      // not be read: a process caught in exec must be looked at again in the next sweep.
      auto key = std::make_pair(e.pid, e.startTime);
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
