// /proc/PID/stat, read by the workspace (names and start times of applications) and by the
// headless desktop (the processes it has to end).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavren::procfs {

struct ProcStat {
  pid_t pid = 0;
  std::string comm;  // the command name, which may itself contain spaces and parentheses
  char state = '?';  // 'Z' for a zombie, which is dead already
  pid_t ppid = 0;
  pid_t pgid = 0;
  uint64_t cpuTicks = 0;    // user plus system time, in clock ticks
  uint64_t startTicks = 0;  // start time after boot, in clock ticks
  uint64_t residentPages = 0;  // resident set size, in pages (0 when not given)
};

// Parses the text of /proc/PID/stat; nothing when it is malformed. The command name is in
// parentheses and may itself hold spaces and parentheses, so the fields after it are counted
// from the last ')'.
std::optional<ProcStat> parseProcStat(std::string_view text);

// The stat of one process as /proc shows it now; nothing when it is gone.
std::optional<ProcStat> readProcStat(pid_t pid);

// A process's resident set size in KiB; 0 when it is gone.
uint64_t residentKiB(pid_t pid);

// A whole small /proc file (they report size 0, so no stat-then-read); false when unreadable.
bool readProcFile(const std::string& path, std::string* out);

}  // namespace tavren::procfs
