#pragma once

#include <chrono>
#include <string>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/pasteboard.h"

namespace tavren::x11 {

class SelectionConnection;

struct ClipboardServeLimits {
  // Properties larger than this go out as INCR transfers, in chunks of `incrChunk` bytes.
  size_t incrThreshold = 1 << 20;
  size_t incrChunk = 1 << 20;
  // A requester that stops reading an INCR transfer for this long loses it.
  std::chrono::milliseconds incrPause{5000};
  // Longest wait for one answer of the server.
  std::chrono::milliseconds request{2000};
  // Longest wait for a clipboard manager to copy the content.
  std::chrono::milliseconds handOff{5000};
};

// Owns the CLIPBOARD selection on behalf of the service and serves the content it was given to
// every requester: TARGETS, TIMESTAMP, MULTIPLE and each content type, large data as INCR. One
// thread with its own X connection answers requests; no wait in it is unbounded, so a requester
// that never reads a transfer costs that transfer only.
class ClipboardOwner {
 public:
  // Nothing when the display cannot be reached.
  static std::unique_ptr<ClipboardOwner> start(const std::string& display,
                                               const ClipboardServeLimits& limits = {});
  ~ClipboardOwner();
  ClipboardOwner(const ClipboardOwner&) = delete;
  ClipboardOwner& operator=(const ClipboardOwner&) = delete;

  // Takes the selection with these items' types (the first item's; the selection holds one). No
  // items: the selection is left without an owner. False when the server did not confirm it.
  bool own(std::vector<PasteboardItem> items);
  // While still the owner, asks a running clipboard manager to keep a copy of the content, and
  // waits (bounded) until it has. False when there is none or it did not answer.
  bool handToManager();

 private:
  struct Command;
  struct State;
  explicit ClipboardOwner(std::unique_ptr<SelectionConnection> x, const ClipboardServeLimits& l);
  bool submit(std::shared_ptr<Command> command);
  void run();

  std::unique_ptr<State> state_;
  int wakeFd_ = -1;
  std::mutex mutex_;
  std::condition_variable done_;
  std::deque<std::shared_ptr<Command>> commands_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tavren::x11
