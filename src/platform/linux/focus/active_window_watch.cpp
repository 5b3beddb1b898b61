#include "platform/linux/focus/active_window_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdlib>

namespace tavren::x11 {

namespace {

xcb_window_t rootOf(xcb_connection_t* connection, int screenNumber) {
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; it.rem && i < screenNumber; ++i) xcb_screen_next(&it);
  if (!it.rem) it = xcb_setup_roots_iterator(xcb_get_setup(connection));
  return it.data->root;
}

// The property touched to read the clock: a zero-length append to our own unmapped window
// changes nothing, yet the server answers it with a stamped PropertyNotify.
constexpr xcb_atom_t kClockProperty = XCB_ATOM_WM_NAME;

}  // namespace

std::unique_ptr<ActiveWindowWatch> ActiveWindowWatch::open(xcb_atom_t activeWindowAtom) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display || activeWindowAtom == XCB_ATOM_NONE) return nullptr;
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(display, &screenNumber);
  if (!connection) return nullptr;
  const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (xcb_connection_has_error(connection) || wakeFd < 0) {
    if (wakeFd >= 0) close(wakeFd);
    xcb_disconnect(connection);
    return nullptr;
  }
  return std::unique_ptr<ActiveWindowWatch>(new ActiveWindowWatch(
      connection, rootOf(connection, screenNumber), activeWindowAtom, wakeFd));
}

ActiveWindowWatch::ActiveWindowWatch(xcb_connection_t* connection, xcb_window_t root,
                                     xcb_atom_t activeWindowAtom, int wakeFd)
    : connection_(connection), root_(root), activeWindowAtom_(activeWindowAtom), wakeFd_(wakeFd) {
  const uint32_t propertyChanges = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &propertyChanges);
  clockWindow_ = xcb_generate_id(connection_);
  xcb_create_window(connection_, 0, clockWindow_, root_, -1, -1, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                    &propertyChanges);
  // One round trip: once it returns, the server sends every later change to us, so a reading
  // taken from now on cannot miss one. Nobody else reads this connection yet.
  replyBefore<xcb_get_input_focus_reply_t>(connection_, xcb_get_input_focus(connection_),
                                           replyDeadline());
  thread_ = std::thread([this] { run(); });
}

ActiveWindowWatch::~ActiveWindowWatch() {
  stopping_ = true;
  wake();
  thread_.join();
  xcb_disconnect(connection_);
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
