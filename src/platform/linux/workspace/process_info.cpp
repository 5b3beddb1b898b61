#include "platform/linux/workspace/process_info.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <iterator>

namespace tavren::workspace {

namespace {

std::string readSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string_view nextField(std::string_view& rest) {
  size_t start = rest.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    rest = {};
    return {};
  }
  rest.remove_prefix(start);
  size_t end = rest.find(' ');
  std::string_view field = rest.substr(0, end);
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
  return field;
}

int64_t nanoseconds(const timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

std::optional<ProcStat> parseProcStat(std::string_view text) {
  // "pid (comm) state ppid ...": comm is whatever lies between the first '(' and the last ')'.
  size_t open = text.find('(');
  size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return std::nullopt;
  }
  ProcStat stat;
  stat.comm = std::string(text.substr(open + 1, close - open - 1));
  std::string_view rest = text.substr(close + 1);
  std::string_view state = nextField(rest);
  if (state.size() != 1) return std::nullopt;
  stat.state = state[0];
  // Fields 4 to 21 come before starttime, field 22.
  for (int field = 4; field < 22; ++field) {
    if (nextField(rest).empty()) return std::nullopt;
  }
  std::string_view start = nextField(rest);
  auto [end, error] = std::from_chars(start.data(), start.data() + start.size(), stat.startTicks);
  if (error != std::errc() || end != start.data() + start.size() || start.empty()) {
    return std::nullopt;
  }
  return stat;
}

std::optional<ProcessInfo> readProcess(int32_t pid) {
  if (pid <= 0) return std::nullopt;
  std::string base = "/proc/" + std::to_string(pid);
  std::optional<ProcStat> stat = parseProcStat(readSmallFile(base + "/stat"));
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
