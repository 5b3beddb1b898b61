#include "support/x_window_probe.h"

#include <poll.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace tavren::testing {
namespace {

template <class T>
std::unique_ptr<T, decltype(&std::free)> own(T* reply) {
  return {reply, &std::free};
}

std::vector<uint32_t> words(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property) {
  auto reply = own(xcb_get_property_reply(
      c, xcb_get_property(c, 0, w, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr));
  if (!reply || reply->format != 32) return {};
  auto* data = static_cast<uint32_t*>(xcb_get_property_value(reply.get()));
  return {data, data + xcb_get_property_value_length(reply.get()) / 4};
}

}  // namespace

XWindowProbe::XWindowProbe(const std::string& display) {
  int screen = 0;
  xcb_connection_t* c = xcb_connect(display.c_str(), &screen);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    return;
  }
  connection_ = c;
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screen && it.rem; ++i) xcb_screen_next(&it);
  root_ = it.data->root;
  // Frames moving and clients coming and going show as the root's substructure; the active
  // window and the stacking as its properties.
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(c, root_, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(c);
}

XWindowProbe::~XWindowProbe() {
  if (connection_) xcb_disconnect(connection_);
}

xcb_atom_t XWindowProbe::atom(const char* name) {
  auto reply = own(xcb_intern_atom_reply(
      connection_, xcb_intern_atom(connection_, 0, uint16_t(std::strlen(name)), name), nullptr));
  return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::optional<xcb_window_t> XWindowProbe::clientOf(pid_t pid) {
  for (uint32_t w : words(connection_, root_, atom("_NET_CLIENT_LIST"))) {
    std::vector<uint32_t> owner = words(connection_, w, atom("_NET_WM_PID"));
    if (owner.empty() || owner[0] != uint32_t(pid)) continue;
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection_, w, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
    return w;
  }
  return std::nullopt;
}

std::optional<XWindowProbe::Frame> XWindowProbe::frame(xcb_window_t window) {
  auto geometry = own(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window),
                                             nullptr));
  auto origin = own(xcb_translate_coordinates_reply(
      connection_, xcb_translate_coordinates(connection_, window, root_, 0, 0), nullptr));
  if (!geometry || !origin) return std::nullopt;
  return Frame{origin->dst_x, origin->dst_y, geometry->width, geometry->height};
}

bool XWindowProbe::viewable(xcb_window_t window) {
  auto a = own(xcb_get_window_attributes_reply(
      connection_, xcb_get_window_attributes(connection_, window), nullptr));
  return a && a->map_state == XCB_MAP_STATE_VIEWABLE;
}

bool XWindowProbe::iconic(xcb_window_t window) {
  std::vector<uint32_t> state = words(connection_, window, atom("WM_STATE"));
  return !state.empty() && state[0] == 3;
}

void XWindowProbe::clientMessage(xcb_window_t window, xcb_atom_t type,
                                 const uint32_t (&data)[5]) {
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = window;
  event.type = type;
  std::memcpy(event.data.data32, data, sizeof data);
  xcb_send_event(connection_, 0, root_,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&event));
  xcb_flush(connection_);
}

void XWindowProbe::moveResize(xcb_window_t window, Frame to) {
  constexpr uint32_t kStaticGravity = 10, kAllFields = 0xf << 8, kFromPager = 2 << 12;
  clientMessage(window, atom("_NET_MOVERESIZE_WINDOW"),
                {kStaticGravity | kAllFields | kFromPager, uint32_t(to.x), uint32_t(to.y),
                 uint32_t(to.w), uint32_t(to.h)});
}

void XWindowProbe::minimize(xcb_window_t window) {
  constexpr uint32_t kAdd = 1, kFromPager = 2;
  clientMessage(window, atom("_NET_WM_STATE"),
                {kAdd, atom("_NET_WM_STATE_HIDDEN"), 0, kFromPager, 0});
}

xcb_window_t XWindowProbe::activeWindow() {
  std::vector<uint32_t> active = words(connection_, root_, atom("_NET_ACTIVE_WINDOW"));
  return active.empty() ? xcb_window_t(XCB_WINDOW_NONE) : active[0];
}

bool XWindowProbe::focusWithin(xcb_window_t window) {
  auto focus = own(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
  if (!focus) return false;
  for (xcb_window_t w = focus->focus; w != XCB_WINDOW_NONE && w != root_;) {
    if (w == window) return true;
    auto tree = own(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, w), nullptr));
    if (!tree) return false;
    w = tree->parent;
  }
  return false;
}

std::vector<xcb_window_t> XWindowProbe::stacking() {
  return words(connection_, root_, atom("_NET_CLIENT_LIST_STACKING"));
}

void XWindowProbe::activate(xcb_window_t window) {
  constexpr uint32_t kFromPager = 2;
  clientMessage(window, atom("_NET_ACTIVE_WINDOW"), {kFromPager, XCB_CURRENT_TIME, 0, 0, 0});
}

void XWindowProbe::focus(xcb_window_t window) {
  xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
  xcb_flush(connection_);
}

bool XWindowProbe::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) std::free(event);
    if (done()) return true;
    // done() may have pulled events into the queue while waiting for its replies: those count
    // as news too.
    if (xcb_generic_event_t* queued = xcb_poll_for_queued_event(connection_)) {
      std::free(queued);
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd pfd{xcb_get_file_descriptor(connection_), POLLIN, 0};
    poll(&pfd, 1, int(left.count()));
  }
}

}  // namespace tavren::testing
