#include "platform/linux/workspace/process_info.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/linux/procfs/proc_stat.h"

namespace tavren::workspace {

namespace {

int64_t nanoseconds(const timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

std::optional<ProcessInfo> readProcess(int32_t pid) {
  if (pid <= 0) return std::nullopt;
  std::optional<procfs::ProcStat> stat = procfs::readProcStat(pid);
  if (!stat || stat->state == 'Z' || stat->state == 'X' || stat->state == 'x') return std::nullopt;
  ProcessInfo info;
  info.pid = pid;
  info.comm = std::move(stat->comm);
  info.startTicks = stat->startTicks;
  info.executablePath = readExecutablePath(pid);
  return info;
}

std::string readExecutablePath(int32_t pid) {
  if (pid <= 0) return {};
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  char buffer[4096];
  ssize_t length = readlink(link.c_str(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return {};
  std::string path(buffer, static_cast<size_t>(length));
  constexpr std::string_view kDeleted = " (deleted)";
  if (path.ends_with(kDeleted)) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) path.resize(path.size() - kDeleted.size());
  }
  return path;
}

int64_t launchTimeMs(uint64_t startTicks, long ticksPerSecond, int64_t bootTimeMs) {
  if (ticksPerSecond <= 0) return bootTimeMs;
  auto ticks = static_cast<int64_t>(startTicks);
  return bootTimeMs + ticks / ticksPerSecond * 1000 +
         ticks % ticksPerSecond * 1000 / ticksPerSecond;
}

int64_t bootTimeMs() {
  timespec real{}, sinceBoot{};
  clock_gettime(CLOCK_REALTIME, &real);
  clock_gettime(CLOCK_BOOTTIME, &sinceBoot);
  // In nanoseconds first: truncating each clock to milliseconds would make the answer, and so
  // every launch time, flicker by a millisecond from one call to the next.
  return (nanoseconds(real) - nanoseconds(sinceBoot)) / 1000000;
}

long clockTicksPerSecond() {
  static const long ticks = sysconf(_SC_CLK_TCK);
  return ticks;
}

}  // namespace tavren::workspace
