#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "core/json.h"

namespace tavren {

inline constexpr int kProtocolVersion = 1;

// Writes whole lines to the protocol output. Every writer serialises first, then holds the lock
// from the write to the end of it, so lines never interleave and each is on the pipe at once.
class LineWriter {
 public:
  explicit LineWriter(int fd) : fd_(fd) {}

  // One object as one line. A value that cannot be serialised is dropped silently.
  void writeProtocolValue(const Json& value);
  // A response: "result" when given, else "error"; "ok" says which.
  void response(const std::string& id, const std::optional<Json>& result,
                const std::optional<std::string>& error);

  // Takes the output lock for good: nothing is written after this returns, and nothing is left
  // half-written. Used right before the process exits.
  void closeForExit();

 private:
  void writeLine(std::string text);

  int fd_;
  std::mutex protocolOutputLock_;
  bool closed_ = false;
};

// The response object itself, for writers and tests.
Json responseObject(const std::string& id, const std::optional<Json>& result,
                    const std::optional<std::string>& error);

}  // namespace tavren
