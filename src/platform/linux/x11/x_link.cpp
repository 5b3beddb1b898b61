#include "platform/linux/x11/x_link.h"

#include <poll.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <thread>

namespace tavren::x11 {

namespace {

// How long a waiter that does not watch the socket sleeps before looking again, for the rare
// read no waiter was told about (data that came between a look at the socket and the read).
constexpr auto kLookAgain = std::chrono::milliseconds(10);

int64_t ticks(XLink::Clock::time_point t) {
  return t.time_since_epoch().count();
}

bool socketReadable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeoutMs) > 0;
}

}  // namespace

std::unique_ptr<XLink> XLink::connect(const std::string& display) {
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(display.c_str(), &screenNumber);
  if (xcb_connection_has_error(connection)) {
    xcb_disconnect(connection);
    return nullptr;
  }
  return std::unique_ptr<XLink>(new XLink(connection, screenNumber));
}

std::shared_future<std::shared_ptr<XLink>> XLink::connectInBackground(const std::string& display) {
  std::promise<std::shared_ptr<XLink>> promise;
  std::shared_future<std::shared_ptr<XLink>> future = promise.get_future().share();
  // Detached: a server that never answers the set-up keeps it in xcb_connect for good.
  std::thread([promise = std::move(promise), display]() mutable {
    promise.set_value(std::shared_ptr<XLink>(connect(display)));
  }).detach();
  return future;
}

XLink::XLink(xcb_connection_t* connection, int screenNumber)
    : connection_(connection),
      fd_(xcb_get_file_descriptor(connection)),
      screenNumber_(screenNumber) {
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
  for (int i = 0; it.rem && i < screenNumber_; ++i) xcb_screen_next(&it);
  if (!it.rem) {
    it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    screenNumber_ = 0;
  }
  root_ = it.data->root;
}

XLink::~XLink() {
  xcb_disconnect(connection_);
}

bool XLink::stalled() const {
  int64_t until = stalledUntil_.load(std::memory_order_relaxed);
  return until != 0 && ticks(Clock::now()) < until;
}

bool XLink::alive() const {
  return xcb_connection_has_error(connection_) == 0 && !stalled();
}

bool XLink::take(unsigned sequence, void** reply, xcb_generic_error_t** error) const {
  const bool pending = socketReadable(fd_, 0);
  const bool over = xcb_poll_for_reply(connection_, sequence, reply, error) != 0;
  if (pending) {
    std::lock_guard lock(mutex_);
    ++reads_;
    readSomething_.notify_all();
  }
  return over;
}

bool XLink::await(unsigned sequence, void** reply, xcb_generic_error_t** error) const {
  *reply = nullptr;
  *error = nullptr;
  if (stalled()) {
    // Not sent yet, most likely, and not worth waiting for: it leaves with the next flush.
    if (take(sequence, reply, error)) {
      stalledUntil_.store(0, std::memory_order_relaxed);
      return *reply || *error;
    }
    xcb_discard_reply(connection_, sequence);
    return false;
  }
  xcb_flush(connection_);
  const Clock::time_point deadline = Clock::now() + kReplyTimeout;
  std::unique_lock lock(mutex_);
  for (;;) {
    const uint64_t readsBefore = reads_;
    lock.unlock();
    if (take(sequence, reply, error)) {
      if (stalledUntil_.load(std::memory_order_relaxed) != 0) {
        stalledUntil_.store(0, std::memory_order_relaxed);
      }
      return *reply || *error;
    }
    const Clock::time_point now = Clock::now();
    if (now >= deadline) {
      stalledUntil_.store(ticks(now + kStallPause), std::memory_order_relaxed);
      // A reply that comes later is dropped by XCB instead of kept for a reader who left.
      xcb_discard_reply(connection_, sequence);
      return false;
    }
    lock.lock();
    if (!socketWatched_) {
      socketWatched_ = true;
      lock.unlock();
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
      socketReadable(fd_, static_cast<int>(left.count()));
      lock.lock();
      // The next look at XCB reads what came; until then another waiter may watch.
      socketWatched_ = false;
      readSomething_.notify_all();
    } else if (reads_ == readsBefore) {
      readSomething_.wait_until(lock, std::min(deadline, now + kLookAgain),
                                [&] { return reads_ != readsBefore || !socketWatched_; });
    }
  }
}

bool XLink::sync() const {
  return reply(xcb_get_input_focus_reply, xcb_get_input_focus(connection_)) != nullptr;
}

XLink::Checked XLink::check(xcb_void_cookie_t cookie) const {
  Checked checked;
  void* none = nullptr;
  xcb_generic_error_t* error = nullptr;
  // The server answers in order: once a later request is answered, this one is done, and XCB
  // holds its error if there was one. A reply to a later request may be in already.
  if (!take(cookie.sequence, &none, &error)) {
    if (!sync()) {
      xcb_discard_reply(connection_, cookie.sequence);
      return checked;
    }
    xcb_poll_for_reply(connection_, cookie.sequence, &none, &error);
  }
  std::free(none);
  checked.answered = xcb_connection_has_error(connection_) == 0;
  checked.error.reset(error);
  return checked;
}

xcb_atom_t XLink::internAtom(std::string_view name) const {
  auto atom =
      reply(xcb_intern_atom_reply,
            xcb_intern_atom(connection_, 0, static_cast<uint16_t>(name.size()), name.data()));
  return atom ? atom->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

}  // namespace tavren::x11
