#pragma once

#include <memory>
#include <mutex>

#include "platform/capture.h"
#include "core/worker_pool.h"
#include "platform/linux/capture/window_pixels_reader.h"
#include "platform/linux/x11/x_connection.h"

namespace tavren::x11 {

// Window pixels on an X display. With Composite, every top-level is redirected off screen (the
// server still draws the screen itself), so a covered window keeps its whole picture; the
// redirection is made once, as early as the display answers (the platform asks for it while it
// starts up, off the start-up path), because a freshly redirected window has no picture until
// it repaints. Without Composite, a capture shows what the screen shows where the window is.
class X11Capture final : public Capture {
 public:
  // x may be null (no display): then nothing can be captured. It must outlive this object.
  explicit X11Capture(const XConnection* x);

  bool available() const override;
  WindowPixels windowPixels(uint32_t window) override;
  bool startTask(std::function<void()> task) override { return threads_.submit(std::move(task)); }

  bool readsWindowPixmaps() const;

 private:
  // What the display offers for captures, learnt on first use.
  struct Setup {
    ScreenFormats formats;
    std::unique_ptr<ShmSegments> segments;
    ReadMethod method;
  };
  // None while the server cannot be reached.
  const Setup* setup() const;

  const XConnection* x_;
  mutable std::mutex mutex_;
  mutable std::unique_ptr<Setup> setup_;  // never replaced once made
  WorkerPool threads_;                    // last: its threads end before the members they use
};

}  // namespace tavren::x11
