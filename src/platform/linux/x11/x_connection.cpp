#include "platform/linux/x11/x_connection.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace tavren::x11 {

struct XConnection::Opening {
  std::mutex mutex;
  std::condition_variable finished;
  std::atomic<bool> done{false};  // set last, once what follows is written for good
  std::unique_ptr<XLink> link;
  AtomTable atoms;
  XExtensions extensions;
  uint32_t clientMask = 0;
};

std::unique_ptr<XConnection> XConnection::open(const std::string& display) {
  if (display.empty()) return nullptr;
  return std::unique_ptr<XConnection>(new XConnection(display));
}

XConnection::XConnection(const std::string& display)
    : display_(display), opening_(std::make_shared<Opening>()), startedAt_(Clock::now()) {
  // Detached: a server that never answers keeps the thread in xcb_connect for good, and
  // nothing may wait for it then, not even the end of the process. It holds the opening, not
  // this object.
  std::thread([opening = opening_, display] {
    std::unique_ptr<XLink> link = XLink::connect(display);
    AtomTable atoms;
    XExtensions extensions;
    if (link) {
      atoms = AtomTable::intern(*link);
      extensions = probeExtensions(*link, atoms);
      // Atoms and extensions are learnt once: a server that did not answer them is not used.
      if (!link->alive()) link.reset();
    }
    std::lock_guard lock(opening->mutex);
    if (link) opening->clientMask = ~xcb_get_setup(link->get())->resource_id_mask;
    opening->link = std::move(link);
    opening->atoms = atoms;
    opening->extensions = extensions;
    opening->done.store(true, std::memory_order_release);
    opening->finished.notify_all();
  }).detach();
}

XConnection::~XConnection() = default;

bool XConnection::alive() const {
  if (!opening_->done.load(std::memory_order_acquire)) {
    std::unique_lock lock(opening_->mutex);
    opening_->finished.wait_until(lock, startedAt_ + kOpenBound,
                                  [&] { return opening_->done.load(std::memory_order_relaxed); });
    if (!opening_->done.load(std::memory_order_relaxed)) return false;
  }
  return opening_->link && opening_->link->alive();
}

const XLink& XConnection::link() const {
  return *opening_->link;
}

const AtomTable& XConnection::atoms() const {
  return opening_->atoms;
}

const XExtensions& XConnection::extensions() const {
  return opening_->extensions;
}

uint32_t XConnection::clientMask() const {
  return opening_->clientMask;
}

}  // namespace tavren::x11
