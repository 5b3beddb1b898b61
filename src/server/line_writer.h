#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "core/event_sink.h"
#include "core/json.h"

namespace tavren {

// Writes whole lines to the protocol output. Every writer serialises first, then holds the lock
// from the first byte of its line to the last, so lines never interleave.
//
// The output may be a pipe, a socket, a file or a terminal, blocking or not: a writer waits for
// room rather than failing on a full non-blocking pipe. A host that has closed its end ends the
// writing for good and is reported once through onHostGone.
class LineWriter {
 public:
  explicit LineWriter(int fd);
  ~LineWriter();
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  // Called once, outside the output lock, when a write finds that nobody reads the output any
  // more. Set before the first line.
  void onHostGone(std::function<void()> callback) { hostGone_ = std::move(callback); }

  // One object as one line. A value that cannot be serialised is dropped silently.
  void writeProtocolValue(Json value);
  // A response: "result" when given, else "error"; "ok" says which.
  void response(const std::string& id, std::optional<Json> result,
                const std::optional<std::string>& error);

  // One line of serialised text (without its line feed), waiting for the lock and for room.
  void writeLine(std::string text);
  // The same only when that needs no waiting: the lock is free and the output is a pipe with
  // room for the whole line now. False, with nothing written, when it would have to wait.
  bool tryWriteLine(std::string text);

  // Closes the output for the process's exit: nothing is written after this returns. A line
  // already being written is given a short while to finish, so that a host that reads sees no
  // half line; a host that does not read cannot hold the exit up.
  void closeForExit();

 private:
  enum class WriteEnd { Written, HostGone };
  WriteEnd writeAll(const char* p, size_t left);

  int fd_;
  int pipeFd_ = -1;  // a non-blocking description of the same pipe, when the output is one
  bool socket_ = false;
  std::timed_mutex protocolOutputLock_;
  // Set under protocolOutputLock_; atomic because the exit's timed lock is not one every race
  // detector follows.
  std::atomic<bool> closed_{false};
  std::atomic<bool> closing_{false};
  std::function<void()> hostGone_;
};

// The response object itself, for writers and tests.
Json responseObject(const std::string& id, std::optional<Json> result,
                    const std::optional<std::string>& error);

// The value as one line of compact JSON text, without the line feed. Long strings that need no
// escaping (encoded images) are copied into the text as they are instead of going through the
// serializer's escaping, which would cost more than the rest of the request. Never throws:
// invalid UTF-8 in strings becomes U+FFFD.
std::string protocolLineText(Json value);

}  // namespace tavren
