#include "platform/linux/procfs/proc_stat.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>

namespace tavren::procfs {
namespace {

template <typename T>
bool parseNumber(std::string_view field, T* value) {
  auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), *value);
  return !field.empty() && error == std::errc() && end == field.data() + field.size();
}

}  // namespace

std::optional<ProcStat> parseProcStat(std::string_view text) {
  const size_t open = text.find('(');
  const size_t close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return std::nullopt;
  }
  ProcStat stat;
  std::string_view pidField = text.substr(0, open);
  while (!pidField.empty() && pidField.back() == ' ') pidField.remove_suffix(1);
  if (!parseNumber(pidField, &stat.pid)) return std::nullopt;
  stat.comm = std::string(text.substr(open + 1, close - open - 1));

  // After the name: state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt
  // utime stime cutime cstime priority nice threads itrealvalue starttime ...
  std::array<std::string_view, 20> fields;
  std::string_view rest = text.substr(close + 1);
  for (std::string_view& field : fields) {
    const size_t start = rest.find_first_not_of(" \n");
    if (start == std::string_view::npos) return std::nullopt;
    const size_t end = std::min(rest.find_first_of(" \n", start), rest.size());
    field = rest.substr(start, end - start);
    rest.remove_prefix(end);
  }
  if (fields[0].size() != 1) return std::nullopt;
  stat.state = fields[0][0];
  uint64_t user = 0, system = 0;
  if (!parseNumber(fields[1], &stat.ppid) || !parseNumber(fields[2], &stat.pgid) ||
      !parseNumber(fields[11], &user) || !parseNumber(fields[12], &system) ||
      !parseNumber(fields[19], &stat.startTicks)) {
    return std::nullopt;
  }
  stat.cpuTicks = user + system;
  // Then vsize and rss, which short lines (older kernels' tests) may lack.
  std::array<std::string_view, 2> sizes;
  for (std::string_view& field : sizes) {
    const size_t start = rest.find_first_not_of(" \n");
    if (start == std::string_view::npos) return stat;
    const size_t end = std::min(rest.find_first_of(" \n", start), rest.size());
    field = rest.substr(start, end - start);
    rest.remove_prefix(end);
  }
  if (!parseNumber(sizes[1], &stat.residentPages)) stat.residentPages = 0;
  return stat;
}

uint64_t residentKiB(pid_t pid) {
  const std::optional<ProcStat> stat = readProcStat(pid);
  if (!stat) return 0;
  return stat->residentPages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) / 1024;
}

std::optional<ProcStat> readProcStat(pid_t pid) {
  std::string text;
  if (pid <= 0 || !readProcFile("/proc/" + std::to_string(pid) + "/stat", &text)) {
    return std::nullopt;
  }
  return parseProcStat(text);
}

bool readProcFile(const std::string& path, std::string* out) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  out->clear();
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out->append(buf, static_cast<size_t>(n));
  close(fd);
  return n == 0;
}

}  // namespace tavren::procfs
