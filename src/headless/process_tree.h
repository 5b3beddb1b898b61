// Finding and ending every process a desktop has started, including the ones it does not know
// by pid: daemons that D-Bus activates are double-forked and end up orphaned (their parent is
// init or a subreaper), so parent chains alone miss them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/procfs/proc_stat.h"

namespace tavren::headless {

using procfs::ProcStat;

// Every process /proc shows right now; the ones that vanish while it is read are left out.
std::vector<ProcStat> readProcessTable();

// Whether /proc/<pid>/environ holds exactly `entry` ("K=V"); nullopt when it cannot be told:
// unreadable, or empty, as it reads for a moment while the process execs.
std::optional<bool> environmentContains(pid_t pid, std::string_view entry);

struct Ownership {
  std::set<pid_t> roots;   // children not reaped yet, so their pids and groups are still ours
  std::set<pid_t> groups;  // process groups those children lead
  // Optional: whether a process carries the owner's marker.
  std::function<bool(const ProcStat&)> carriesMarker;
  pid_t self = 0;  // never selected, nor anything in its group
  pid_t selfGroup = 0;
};

// The live (not zombie) processes that belong to the owner: the roots, members of its groups,
// carriers of its marker, and every descendant of those through parent links.
std::vector<pid_t> selectOwnedProcesses(const std::vector<ProcStat>& table, const Ownership& owner);

// Sends SIGTERM to everything selectOwnedProcesses finds (rescanning, so that late forks are
// caught), waits up to `grace`, sends SIGKILL to what is left, and reaps `children`.
// `markerEntry` is the "K=V" environment entry every started child carries.
void endProcessTree(const std::vector<pid_t>& children, const std::string& markerEntry,
                    std::chrono::milliseconds grace);

}  // namespace tavren::headless
