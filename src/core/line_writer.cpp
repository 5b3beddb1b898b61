#include "core/line_writer.h"

#include <unistd.h>

#include <cerrno>

namespace tavren {

Json responseObject(const std::string& id, const std::optional<Json>& result,
                    const std::optional<std::string>& error) {
  Json line = {{"id", id}, {"version", kProtocolVersion}, {"ok", !error.has_value()}};
  if (error) {
    line["error"] = *error;
  } else if (result) {
    line["result"] = *result;
  }
  return line;
}

void LineWriter::writeProtocolValue(const Json& value) {
  std::string text;
  try {
    text = compactJson(value);
  } catch (const std::exception&) {
    return;
  }
  writeLine(std::move(text));
}

void LineWriter::response(const std::string& id, const std::optional<Json>& result,
                          const std::optional<std::string>& error) {
  writeProtocolValue(responseObject(id, result, error));
}

void LineWriter::writeLine(std::string text) {
  text.push_back('\n');
  std::lock_guard lock(protocolOutputLock_);
  if (closed_) return;
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // the host has gone; there is nobody left to tell
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
}

void LineWriter::closeForExit() {
  protocolOutputLock_.lock();
  closed_ = true;
  // Deliberately kept locked: a writer that comes later waits until the process is gone.
}

}  // namespace tavren
