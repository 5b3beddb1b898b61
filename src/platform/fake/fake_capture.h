#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "core/json.h"
#include "platform/capture.h"
#include "core/worker_pool.h"
#include "platform/window_server.h"

namespace tavren {

// Window pixels made from the fixture, so tests know every pixel they should get back.
//
// Fixture members it reads (all optional):
//   "windows": [{"number", "bounds", "pixels": {"scale": 1, "width", "height",
//                "fill": "#rrggbb", "blocks": [{"x", "y", "w", "h", "color": "#rrggbb[aa]"}]},
//                "captureError": {"domain", "code", "message"}}]
//   "delaysMs": {"windowPixels": 50}
// The image is width x height pixels (default: the window's bounds times scale, rounded), filled
// with "fill" (white by default), blocks painted over it in order, in pixel coordinates. Colours
// are straight alpha; the pixels come out premultiplied, as real ones do. A window that is gone
// or not on screen is unavailable, as on a real desktop.
class FakeCapture final : public Capture {
 public:
  FakeCapture(WindowServer& windows, const Json& fixture, bool available);
  ~FakeCapture() override;  // lets held reads go, then finishes every task

  bool available() const override { return available_; }
  WindowPixels windowPixels(uint32_t window) override;
  bool startTask(std::function<void()> task) override;

  // Knobs for tests. While held, reads wait (after any delay) until released: a capture that
  // never finishes, or a window that changes while it is read.
  void holdReads();
  void releaseReads();
  // Until `count` reads are waiting at the hold.
  void waitForHeldReads(size_t count);
  void setReadDelay(std::chrono::milliseconds delay);
  // Reads asked for so far.
  size_t readsStarted() const;
  // Capture tasks submitted and not started yet.
  size_t queuedTasks() const { return threads_.queued(); }
  // Until every task submitted so far has ended.
  void waitUntilIdle();

 private:
  struct PixelRecipe {
    Json pixels;
    Json error;
  };
  CapturedPixels paint(const WindowInfo& window, const Json& recipe) const;

  WindowServer& windows_;
  const bool available_;
  std::map<uint32_t, PixelRecipe> recipes_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::chrono::milliseconds delay_{0};
  bool failing_ = false;  // "failures" names windowPixels: every read throws
  bool held_ = false;
  bool closing_ = false;
  size_t waiting_ = 0;
  size_t running_ = 0;
  size_t reads_ = 0;
  WorkerPool threads_;  // last: its threads end before the members they use
};

}  // namespace tavren
