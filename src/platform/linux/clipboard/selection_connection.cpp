#include "platform/linux/clipboard/selection_connection.h"

#include <poll.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace tavren::x11 {
namespace {

int millisUntil(SteadyClock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
  return int(std::clamp<int64_t>(left.count() + 1, 0, 60'000));
}

}  // namespace

SelectionConnection::SelectionConnection(xcb_connection_t* connection) : connection_(connection) {}

SelectionConnection::~SelectionConnection() { xcb_disconnect(connection_); }

std::unique_ptr<SelectionConnection> SelectionConnection::open(std::chrono::milliseconds timeout) {
  int screenNumber = 0;
  xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
  if (c == nullptr) return nullptr;
  std::unique_ptr<SelectionConnection> self(new SelectionConnection(c));
  if (!self->alive()) return nullptr;
  const xcb_setup_t* setup = xcb_get_setup(c);
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < screenNumber && it.rem > 0; ++i) xcb_screen_next(&it);
  if (it.rem == 0) return nullptr;

  self->window_ = xcb_generate_id(c);
  const uint32_t mask = XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK;
  const uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, self->window_, it.data->root, -10, -10, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, mask, values);
  // With BIG-REQUESTS the limit is far above what one property should carry.
  self->maxRequestBytes_ = size_t(xcb_get_maximum_request_length(c)) * 4;

  const auto deadline = SteadyClock::now() + timeout;
  const std::vector<xcb_atom_t> a = self->internAtoms(
      {"CLIPBOARD", "TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "INCR", "ATOM_PAIR",
       "CLIPBOARD_MANAGER", "_TAVREN_SELECTION", "_TAVREN_CLOCK"},
      deadline);
  if (std::find(a.begin(), a.end(), XCB_ATOM_NONE) != a.end()) return nullptr;
  self->atoms_ = SelectionAtoms{a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]};
  return self;
}

bool SelectionConnection::waitReadable(SteadyClock::time_point deadline) {
  xcb_flush(connection_);
  for (;;) {
    pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
    const int timeout = millisUntil(deadline);
    const int n = ::poll(&fd, 1, timeout);
    if (n > 0) return true;
    if (n == 0 && SteadyClock::now() >= deadline) return false;
    if (n < 0 && errno != EINTR) return false;
  }
}

void* SelectionConnection::waitForReply(unsigned int sequence, SteadyClock::time_point deadline) {
  for (;;) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (xcb_poll_for_reply(connection_, sequence, &reply, &error) != 0) {
      std::free(error);
      return reply;
    }
    if (!alive() || !waitReadable(deadline)) {
      // A reply that arrives later is read and dropped by XCB.
      xcb_discard_reply(connection_, sequence);
      return nullptr;
    }
  }
}

Reply<xcb_generic_event_t> SelectionConnection::nextEvent(SteadyClock::time_point deadline) {
  for (;;) {
    if (auto* e = xcb_poll_for_event(connection_)) return own(e);
    if (!alive() || !waitReadable(deadline)) return nullptr;
  }
}

Reply<xcb_generic_event_t> SelectionConnection::waitForEvent(
    const std::function<bool(const xcb_generic_event_t&)>& wanted,
    const std::function<void(const xcb_generic_event_t&)>& other,
    SteadyClock::time_point deadline) {
  for (;;) {
    auto e = nextEvent(deadline);
    if (!e) return nullptr;
    if (wanted(*e)) return e;
    if (other) other(*e);
  }
}

std::vector<std::string> SelectionConnection::atomNames(const std::vector<xcb_atom_t>& atoms,
                                                        SteadyClock::time_point deadline) {
  std::vector<xcb_get_atom_name_cookie_t> cookies;
  cookies.reserve(atoms.size());
  for (xcb_atom_t a : atoms) cookies.push_back(xcb_get_atom_name(connection_, a));
  std::vector<std::string> names;
  names.reserve(atoms.size());
  for (const auto& cookie : cookies) {
    auto r = reply<xcb_get_atom_name_reply_t>(cookie.sequence, deadline);
    names.push_back(r ? std::string(xcb_get_atom_name_name(r.get()),
                                    size_t(xcb_get_atom_name_name_length(r.get())))
                      : std::string());
  }
  return names;
}

std::vector<xcb_atom_t> SelectionConnection::internAtoms(const std::vector<std::string>& names,
                                                         SteadyClock::time_point deadline) {
  std::vector<xcb_intern_atom_cookie_t> cookies;
  cookies.reserve(names.size());
  for (const auto& n : names) {
    cookies.push_back(xcb_intern_atom(connection_, 0, uint16_t(std::min<size_t>(n.size(), 65535)),
                                      n.data()));
  }
  std::vector<xcb_atom_t> atoms;
  atoms.reserve(names.size());
  for (const auto& cookie : cookies) {
    auto r = reply<xcb_intern_atom_reply_t>(cookie.sequence, deadline);
    atoms.push_back(r ? r->atom : xcb_atom_t(XCB_ATOM_NONE));
  }
  return atoms;
}

std::optional<xcb_timestamp_t> SelectionConnection::serverTime(
    const std::function<void(const xcb_generic_event_t&)>& other,
    SteadyClock::time_point deadline) {
  xcb_change_property(connection_, XCB_PROP_MODE_APPEND, window_, atoms_.clockProperty,
                      XCB_ATOM_STRING, 8, 0, nullptr);
  auto e = waitForEvent(
      [this](const xcb_generic_event_t& ev) {
        if (eventType(ev) != XCB_PROPERTY_NOTIFY) return false;
        const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(ev);
        return p.window == window_ && p.atom == atoms_.clockProperty;
      },
      other, deadline);
  if (!e) return std::nullopt;
  return reinterpret_cast<const xcb_property_notify_event_t*>(e.get())->time;
}

}  // namespace tavren::x11
