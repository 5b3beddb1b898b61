#include "platform/linux/clipboard/selection_connection.h"

#include <xcb/bigreq.h>

#include <poll.h>

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

SelectionConnection::SelectionConnection(std::unique_ptr<XLink> link) : link_(std::move(link)) {}

SelectionConnection::~SelectionConnection() = default;

std::unique_ptr<SelectionConnection> SelectionConnection::open(const std::string& display) {
  if (display.empty()) return nullptr;
  std::unique_ptr<XLink> link = XLink::connect(display);
  if (!link) return nullptr;
  std::unique_ptr<SelectionConnection> self(new SelectionConnection(std::move(link)));
  xcb_connection_t* c = self->get();

  self->window_ = xcb_generate_id(c);
  const uint32_t mask = XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK;
  const uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, self->window_, self->link_->root(), -10, -10, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, mask, values);
  // With BIG-REQUESTS the limit is far above what one property should carry. xcb waits for
  // its answers without a deadline, so each request goes out first and a bounded round trip
  // after it proves the answer is in before xcb is asked: a stalled server costs a timeout.
  xcb_prefetch_extension_data(c, &xcb_big_requests_id);
  if (!self->link_->sync()) return nullptr;
  xcb_prefetch_maximum_request_length(c);
  if (!self->link_->sync()) return nullptr;
  self->maxRequestBytes_ = size_t(xcb_get_maximum_request_length(c)) * 4;

  const std::vector<xcb_atom_t> a = self->internAtoms(
      {"CLIPBOARD", "TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "INCR", "ATOM_PAIR",
       "CLIPBOARD_MANAGER", "_TAVREN_SELECTION", "_TAVREN_CLOCK"});
  if (std::find(a.begin(), a.end(), XCB_ATOM_NONE) != a.end()) return nullptr;
  self->atoms_ = SelectionAtoms{a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9]};
  return self;
}

bool SelectionConnection::waitReadable(SteadyClock::time_point deadline) {
  xcb_flush(get());
  for (;;) {
    pollfd fd{xcb_get_file_descriptor(get()), POLLIN, 0};
    const int timeout = millisUntil(deadline);
    const int n = ::poll(&fd, 1, timeout);
    if (n > 0) return true;
    if (n == 0 && SteadyClock::now() >= deadline) return false;
    if (n < 0 && errno != EINTR) return false;
  }
}

Reply<xcb_generic_event_t> SelectionConnection::nextEvent(SteadyClock::time_point deadline) {
  for (;;) {
    if (auto* e = xcb_poll_for_event(get())) return own(e);
    if (xcb_connection_has_error(get()) || !waitReadable(deadline)) return nullptr;
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

std::vector<std::string> SelectionConnection::atomNames(const std::vector<xcb_atom_t>& atoms) {
  std::vector<xcb_get_atom_name_cookie_t> cookies;
  cookies.reserve(atoms.size());
  for (xcb_atom_t a : atoms) cookies.push_back(xcb_get_atom_name(get(), a));
  std::vector<std::string> names;
  names.reserve(atoms.size());
  for (const auto& cookie : cookies) {
    auto r = reply(xcb_get_atom_name_reply, cookie);
    names.push_back(r ? std::string(xcb_get_atom_name_name(r.get()),
                                    size_t(xcb_get_atom_name_name_length(r.get())))
                      : std::string());
  }
  return names;
}

std::vector<xcb_atom_t> SelectionConnection::internAtoms(const std::vector<std::string>& names) {
  std::vector<xcb_intern_atom_cookie_t> cookies;
  cookies.reserve(names.size());
  for (const auto& n : names) {
    cookies.push_back(xcb_intern_atom(get(), 0, uint16_t(std::min<size_t>(n.size(), 65535)),
                                      n.data()));
  }
  std::vector<xcb_atom_t> atoms;
  atoms.reserve(names.size());
  for (const auto& cookie : cookies) {
    auto r = reply(xcb_intern_atom_reply, cookie);
    atoms.push_back(r ? r->atom : xcb_atom_t(XCB_ATOM_NONE));
  }
  return atoms;
}

std::optional<xcb_timestamp_t> SelectionConnection::serverTime(
    const std::function<void(const xcb_generic_event_t&)>& other,
    SteadyClock::time_point deadline) {
  xcb_change_property(get(), XCB_PROP_MODE_APPEND, window_, atoms_.clockProperty,
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
