#include "server/line_writer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <chrono>
#include <algorithm>
#include <random>
#include <vector>

namespace tavren {
namespace {

// Strings at least this long are looked at for the copy without escaping.
constexpr size_t kRawStringMin = 16 * 1024;
// How long the exit waits for a line that is being written.
constexpr std::chrono::milliseconds kExitWaitForLine{200};

// True when JSON would write every byte of `s` as it is: printable ASCII other than the quote
// and the backslash. Checked in blocks without an early exit per byte, which compilers turn
// into vector code.
bool needsNoEscaping(const std::string& s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  size_t left = s.size();
  while (left > 0) {
    const size_t block = left < 4096 ? left : 4096;
    unsigned bad = 0;
    for (size_t i = 0; i < block; ++i) {
      const unsigned c = p[i];
      bad |= static_cast<unsigned>(c < 0x20) | static_cast<unsigned>(c >= 0x7F) |
             static_cast<unsigned>(c == '"') | static_cast<unsigned>(c == '\\');
    }
    if (bad != 0) return false;
    p += block;
    left -= block;
  }
  return true;
}

// A marker no real value holds: random per process, checked to occur once before it is used.
const std::string& rawMarkerPrefix() {
  static const std::string prefix = [] {
    std::random_device random;
    const uint64_t nonce = (static_cast<uint64_t>(random()) << 32) ^ random();
    return "tavren-raw-" + std::to_string(nonce) + "-";
  }();
  return prefix;
}

void collectRawStrings(Json& value, std::vector<std::pair<std::string, Json*>>& found) {
  if (value.is_string()) {
    auto& text = value.get_ref<std::string&>();
    if (text.size() >= kRawStringMin && needsNoEscaping(text)) {
      std::string marker = rawMarkerPrefix() + std::to_string(found.size());
      found.emplace_back(std::move(text), &value);
      value = std::move(marker);
    }
  } else if (value.is_structured()) {
    for (auto& member : value) collectRawStrings(member, found);
  }
}

}  // namespace

std::string protocolLineText(Json value) {
  std::vector<std::pair<std::string, Json*>> raw;
  collectRawStrings(value, raw);
  std::string text = compactJson(value);
  if (raw.empty()) return text;
  // Each marker must occur exactly once, as a whole string; otherwise serialise normally.
  std::vector<size_t> at(raw.size());
  bool unique = true;
  for (size_t i = 0; i < raw.size() && unique; ++i) {
    const std::string quoted = "\"" + rawMarkerPrefix() + std::to_string(i) + "\"";
    at[i] = text.find(quoted);
    unique = at[i] != std::string::npos && text.find(quoted, at[i] + 1) == std::string::npos;
  }
  if (!unique) {
    for (auto& [original, slot] : raw) *slot = std::move(original);
    return compactJson(value);
  }
  size_t extra = 0;
  for (const auto& [original, slot] : raw) extra += original.size();
  std::string line;
  line.reserve(text.size() + extra + 1);  // and the line feed
  // Markers in text order, each replaced by its string between the quotes it already has.
  std::vector<size_t> order(raw.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return at[a] < at[b]; });
  size_t copied = 0;
  for (size_t i : order) {
    const size_t markerLength = rawMarkerPrefix().size() + std::to_string(i).size();
    line.append(text, copied, at[i] + 1 - copied);
    line.append(raw[i].first);
    copied = at[i] + 1 + markerLength;
  }
  line.append(text, copied, std::string::npos);
  return line;
}

Json responseObject(const std::string& id, std::optional<Json> result,
                    const std::optional<std::string>& error) {
  Json line = {{"id", id}, {"version", kProtocolVersion}, {"ok", !error.has_value()}};
  if (error) {
    line["error"] = *error;
  } else if (result) {
    line["result"] = std::move(*result);
  }
  return line;
}

LineWriter::LineWriter(int fd) : fd_(fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return;
  if (S_ISFIFO(st.st_mode)) {
    // A description of our own, so that waiting for room never depends on (or changes) the
    // blocking mode of the one the host handed over.
    pipeFd_ = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(),
                     O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  } else if (S_ISSOCK(st.st_mode)) {
    socket_ = true;
  }
}

LineWriter::~LineWriter() {
  if (pipeFd_ >= 0) ::close(pipeFd_);
}

void LineWriter::writeProtocolValue(Json value) {
  std::string text;
  try {
    text = protocolLineText(std::move(value));
  } catch (const std::exception&) {
    return;
  }
  writeLine(std::move(text));
}

void LineWriter::response(const std::string& id, std::optional<Json> result,
                          const std::optional<std::string>& error) {
  writeProtocolValue(responseObject(id, std::move(result), error));
}

LineWriter::WriteEnd LineWriter::writeAll(const char* p, size_t left) {
  const int fd = pipeFd_ >= 0 ? pipeFd_ : fd_;
  while (left > 0) {
    ssize_t n = socket_ ? ::send(fd, p, left, MSG_DONTWAIT | MSG_NOSIGNAL) : ::write(fd, p, left);
    if (n >= 0) {
      p += n;
      left -= static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // Full: wait for the host to read. Hang-up and errors show on the next write.
      pollfd out{fd, POLLOUT, 0};
      while (::poll(&out, 1, -1) < 0 && errno == EINTR) {
      }
      continue;
    }
    return WriteEnd::HostGone;  // EPIPE and its kin: nobody will read what follows
  }
  return WriteEnd::Written;
}

void LineWriter::writeLine(std::string text) {
  text.push_back('\n');
  if (closing_.load()) return;
  std::unique_lock lock(protocolOutputLock_);
  if (closed_) return;
  if (writeAll(text.data(), text.size()) == WriteEnd::Written) return;
  closed_ = true;
  lock.unlock();
  if (hostGone_) hostGone_();
}

bool LineWriter::tryWriteLine(std::string text) {
  text.push_back('\n');
  // Up to PIPE_BUF bytes a pipe takes whole or not at all, so a full one is found out without
  // writing part of the line.
  if (pipeFd_ < 0 || text.size() > PIPE_BUF) return false;
  if (closing_.load()) return true;  // the process is ending: dropped as writeLine drops it
  std::unique_lock lock(protocolOutputLock_, std::try_to_lock);
  if (!lock.owns_lock()) return false;
  if (closed_) return true;
  for (;;) {
    const ssize_t n = ::write(pipeFd_, text.data(), text.size());
    if (n == static_cast<ssize_t>(text.size())) return true;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    break;
  }
  closed_ = true;
  lock.unlock();
  if (hostGone_) hostGone_();
  return true;
}

void LineWriter::closeForExit() {
  closing_.store(true);
  // A line that is being written holds the lock until its last byte; a host that reads gets
  // it whole. Past the wait the lock is abandoned: the process ends right after.
  if (protocolOutputLock_.try_lock_for(kExitWaitForLine)) {
    closed_ = true;
    // Deliberately kept locked: a writer that comes later waits until the process is gone.
  }
}

}  // namespace tavren
