#include "platform/linux/focus/active_window_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

namespace tavren::x11 {

namespace {

// The property touched to read the clock: a zero-length append to our own unmapped window
// changes nothing, yet the server answers it with a stamped PropertyNotify.
constexpr xcb_atom_t kClockProperty = XCB_ATOM_WM_NAME;

}  // namespace

std::unique_ptr<ActiveWindowWatch> ActiveWindowWatch::start(std::shared_ptr<const XLink> link,
                                                            xcb_atom_t activeWindowAtom) {
  if (!link || activeWindowAtom == XCB_ATOM_NONE) return nullptr;
  xcb_connection_t* c = link->get();
  const uint32_t propertyChanges = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(c, link->root(), XCB_CW_EVENT_MASK, &propertyChanges);
  const xcb_window_t clockWindow = xcb_generate_id(c);
  xcb_create_window(c, 0, clockWindow, link->root(), -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &propertyChanges);
  // One round trip: once it is answered, the server sends every later change to us, so a
  // reading taken from then on cannot miss one. Nobody else reads this connection yet.
  if (!link->sync()) return nullptr;
  const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) return nullptr;
  auto watch = std::unique_ptr<ActiveWindowWatch>(
      new ActiveWindowWatch(std::move(link), activeWindowAtom, wakeFd));
  watch->clockWindow_ = clockWindow;
  watch->thread_ = std::thread([w = watch.get()] { w->run(); });
  return watch;
}

ActiveWindowWatch::ActiveWindowWatch(std::shared_ptr<const XLink> link,
                                     xcb_atom_t activeWindowAtom, int wakeFd)
    : link_(std::move(link)),
      connection_(link_->get()),
      root_(link_->root()),
      activeWindowAtom_(activeWindowAtom),
      wakeFd_(wakeFd) {}

ActiveWindowWatch::~ActiveWindowWatch() {
  stopping_ = true;
  wake();
  if (thread_.joinable()) thread_.join();
  close(wakeFd_);
}

void ActiveWindowWatch::wake() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
}

void ActiveWindowWatch::run() {
  pollfd fds[2] = {{xcb_get_file_descriptor(connection_), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  while (!stopping_) {
    poll(fds, 2, -1);
    if (fds[1].revents & POLLIN) {
      uint64_t count;
      [[maybe_unused]] ssize_t n = read(wakeFd_, &count, sizeof count);
    }
    // Another thread's flush may have read events into XCB's queue: drain it on every wake.
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
      handle(event);
      std::free(event);
    }
    if (xcb_connection_has_error(connection_)) {
      std::lock_guard lock(mutex_);
      lost_ = true;
      changed_.notify_all();
      return;
    }
  }
}

void ActiveWindowWatch::handle(const xcb_generic_event_t* event) {
  if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return;
  const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
  std::lock_guard lock(mutex_);
  if (notify->window == root_ && notify->atom == activeWindowAtom_) {
    ++changes_;
  } else if (notify->window == clockWindow_ && notify->atom == kClockProperty) {
    ++clockReadings_;
    lastTime_ = notify->time;
  } else {
    return;
  }
  changed_.notify_all();
}

uint64_t ActiveWindowWatch::changes() {
  std::lock_guard lock(mutex_);
  return changes_;
}

void ActiveWindowWatch::waitForChange(uint64_t seen, Deadline deadline) {
  std::unique_lock lock(mutex_);
  changed_.wait_until(lock, deadline, [&] { return changes_ != seen || lost_; });
}

xcb_timestamp_t ActiveWindowWatch::serverTime(Deadline deadline) {
  std::unique_lock lock(mutex_);
  const uint64_t seen = clockReadings_;
  lock.unlock();
  xcb_change_property(connection_, XCB_PROP_MODE_APPEND, clockWindow_, kClockProperty,
                      XCB_ATOM_STRING, 8, 0, nullptr);
  xcb_flush(connection_);
  wake();
  lock.lock();
  if (!changed_.wait_until(lock, deadline, [&] { return clockReadings_ != seen || lost_; }) ||
      clockReadings_ == seen) {
    return XCB_CURRENT_TIME;
  }
  return lastTime_;
}

}  // namespace tavren::x11
