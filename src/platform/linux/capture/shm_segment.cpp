#include "platform/linux/capture/shm_segment.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>

namespace tavren::x11 {

std::unique_ptr<ShmSegment> ShmSegment::create(const XLink& link, size_t size) {
  const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (id < 0) return nullptr;
  void* address = shmat(id, nullptr, 0);
  // Linux lets a segment marked for removal still be attached, by the server too: marking it now
  // leaves no moment after which a crash could leave it behind.
  shmctl(id, IPC_RMID, nullptr);
  if (address == reinterpret_cast<void*>(-1)) return nullptr;
  std::unique_ptr<ShmSegment> segment(new ShmSegment(link, address, size));
  segment->attach_ = xcb_shm_attach_checked(link.get(), segment->segment_, id, 0);
  return segment;
}

ShmSegment::ShmSegment(const XLink& link, void* address, size_t size)
    : link_(link), address_(address), size_(size), segment_(xcb_generate_id(link.get())) {}

bool ShmSegment::attached() {
  if (!checked_) {
    attached_ = link_.check(attach_).succeeded();
    checked_ = true;
  }
  return attached_;
}

ShmSegment::~ShmSegment() {
  if (attached()) {
    // Checked and its answer discarded: an error of an unchecked request would pile up in the
    // shared connection's event queue, which nobody reads.
    xcb_connection_t* c = link_.get();
    xcb_discard_reply(c, xcb_shm_detach_checked(c, segment_).sequence);
    xcb_flush(c);  // so the server lets go of the memory now, not at some later request
  }
  shmdt(address_);
}

namespace {

constexpr size_t kKeptSegments = 4;                 // one for each capture thread
constexpr size_t kMaxKeptTotal = size_t{32} << 20;  // what stays resident between captures
constexpr size_t kSizeStep = 1 << 20;  // sizes rounded up, so nearby sizes share segments

}  // namespace

ShmSegments::ShmSegments(const XLink& link, bool offered) : link_(link), usable_(offered) {}

std::unique_ptr<ShmSegment> ShmSegments::take(size_t size) {
  {
    std::lock_guard lock(mutex_);
    // The smallest kept segment that is large enough.
    auto best = kept_.end();
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
      if ((*it)->size() >= size && (best == kept_.end() || (*it)->size() < (*best)->size())) {
        best = it;
      }
    }
    if (best != kept_.end()) {
      std::unique_ptr<ShmSegment> segment = std::move(*best);
      kept_.erase(best);
      return segment;
    }
  }
  return ShmSegment::create(link_, (size + kSizeStep - 1) / kSizeStep * kSizeStep);
}

void ShmSegments::give(std::unique_ptr<ShmSegment> segment) {
  if (!segment || segment->size() > kMaxKeptSegmentBytes || !segment->attached()) return;
  std::lock_guard lock(mutex_);
  size_t total = segment->size();
  for (const auto& kept : kept_) total += kept->size();
  if (kept_.size() < kKeptSegments && total <= kMaxKeptTotal) kept_.push_back(std::move(segment));
}

}  // namespace tavren::x11
