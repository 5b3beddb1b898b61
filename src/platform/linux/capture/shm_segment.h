#pragma once

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/linux/x11/x_link.h"

namespace tavren::x11 {

// A System V shared-memory segment that the X server writes an image into. It is marked for
// removal as soon as it is mapped, so the kernel frees it when both sides let go even if this
// process dies; the destructor detaches it on both sides.
class ShmSegment {
 public:
  // Nothing when the segment cannot be made (no memory, limits). The server's attach is sent
  // but not waited for: a failed attach shows up as the error of the first read through it.
  static std::unique_ptr<ShmSegment> create(const XLink& link, size_t size);
  ~ShmSegment();
  ShmSegment(const ShmSegment&) = delete;
  ShmSegment& operator=(const ShmSegment&) = delete;

  xcb_shm_seg_t id() const { return segment_; }
  const uint8_t* data() const { return static_cast<const uint8_t*>(address_); }
  size_t size() const { return size_; }
  // Whether the server attached it; asks only once its answer is in, so costs no round trip
  // after a reply to a later request. Not attached when the server did not answer in time.
  bool attached();

 private:
  ShmSegment(const XLink& link, void* address, size_t size);

  const XLink& link_;
  void* address_;
  size_t size_;
  xcb_shm_seg_t segment_;
  xcb_void_cookie_t attach_{};
  bool checked_ = false;
  bool attached_ = false;
};

// The largest segment kept between reads, 16 MiB: a 2560 x 1600 window. Larger images are read
// in strips of this size.
inline constexpr size_t kMaxKeptSegmentBytes = size_t{16} << 20;

// Segments kept between reads. A fresh segment costs a page fault on both sides for every 4 KiB
// of image, which was most of the time of a read; a kept one has its pages in place. At most four
// are kept, none larger than kMaxKeptSegmentBytes and 32 MiB in all, so little memory stays held
// between captures.
class ShmSegments {
 public:
  // `offered`: whether the server has the MIT-SHM extension at all.
  ShmSegments(const XLink& link, bool offered);

  // Until a read finds the server cannot attach our segments (a server on another machine or in
  // another IPC namespace); reads then use plain images.
  bool usable() const { return usable_.load(); }
  void markUnusable() { usable_.store(false); }

  // A kept segment of at least `size` bytes, or a new one; nothing when none can be made.
  std::unique_ptr<ShmSegment> take(size_t size);
  // Done with it: kept for a later read, or let go.
  void give(std::unique_ptr<ShmSegment> segment);

 private:
  const XLink& link_;
  std::atomic<bool> usable_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<ShmSegment>> kept_;
};

}  // namespace tavren::x11
