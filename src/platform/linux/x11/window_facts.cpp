#include "platform/linux/x11/window_facts.h"

#include <algorithm>

#include "platform/linux/x11/text_property.h"
#include "platform/linux/x11/x_reply.h"

namespace tavren::x11 {

namespace {

constexpr uint32_t kTitleWords = 1024;  // 4 KiB of title is more than any window shows

struct Cookies {
  xcb_get_window_attributes_cookie_t attributes;
  xcb_get_geometry_cookie_t geometry;
  xcb_translate_coordinates_cookie_t origin;
  xcb_get_property_cookie_t wmState, netName, name, wmClass, gtkId, machine, pid, type, state;
};

Cookies send(const XConnection& x, xcb_window_t id) {
  xcb_connection_t* c = x.get();
  auto property = [&](xcb_atom_t atom, xcb_atom_t type, uint32_t words) {
    return xcb_get_property(c, 0, id, atom, type, 0, words);
  };
  Cookies k;
  k.attributes = xcb_get_window_attributes(c, id);
  k.geometry = xcb_get_geometry(c, id);
  k.origin = xcb_translate_coordinates(c, id, x.root(), 0, 0);
  k.wmState = property(x.atom(Atom::WM_STATE), x.atom(Atom::WM_STATE), 2);
  k.netName = property(x.atom(Atom::_NET_WM_NAME), x.atom(Atom::UTF8_STRING), kTitleWords);
  k.name = property(XCB_ATOM_WM_NAME, XCB_ATOM_ANY, kTitleWords);
  k.wmClass = property(XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, kSmallProperty * 4);
  k.gtkId =
      property(x.atom(Atom::_GTK_APPLICATION_ID), x.atom(Atom::UTF8_STRING), kSmallProperty * 4);
  k.machine = property(XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_ANY, kSmallProperty);
  k.pid = property(x.atom(Atom::_NET_WM_PID), XCB_ATOM_CARDINAL, 1);
  k.type = property(x.atom(Atom::_NET_WM_WINDOW_TYPE), XCB_ATOM_ATOM, kSmallProperty);
  k.state = property(x.atom(Atom::_NET_WM_STATE), XCB_ATOM_ATOM, kSmallProperty);
  return k;
}

using PropertyReply = Reply<xcb_get_property_reply_t>;

PropertyReply read(const XConnection& x, xcb_get_property_cookie_t cookie) {
  return x.reply(xcb_get_property_reply, cookie);
}

TextEncoding encodingOf(const XConnection& x, const xcb_get_property_reply_t* reply) {
  if (reply->type == x.atom(Atom::UTF8_STRING)) return TextEncoding::Utf8;
  if (reply->type == x.atom(Atom::COMPOUND_TEXT)) return TextEncoding::CompoundText;
  return TextEncoding::Latin1;
}

std::string titleOf(const XConnection& x, const xcb_get_property_reply_t* netName,
                    const xcb_get_property_reply_t* name) {
  std::string utf8 = propertyBytes(netName);
  if (!utf8.empty()) return decodeText(utf8, TextEncoding::Utf8);
  std::string legacy = propertyBytes(name);
  if (!legacy.empty()) return decodeText(legacy, encodingOf(x, name));
  return {};
}

void collect(const XConnection& x, const Cookies& k, WindowFacts& facts) {
  auto attributes = x.reply(xcb_get_window_attributes_reply, k.attributes);
  auto geometry = x.reply(xcb_get_geometry_reply, k.geometry);
  auto origin = x.reply(xcb_translate_coordinates_reply, k.origin);
  PropertyReply wmState = read(x, k.wmState), netName = read(x, k.netName), name = read(x, k.name),
                wmClass = read(x, k.wmClass), gtkId = read(x, k.gtkId),
                machine = read(x, k.machine), pid = read(x, k.pid), type = read(x, k.type),
                state = read(x, k.state);
  if (!attributes) return;
  facts.exists = true;
  facts.overrideRedirect = attributes->override_redirect != 0;
  facts.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
  facts.mapped = attributes->map_state != XCB_MAP_STATE_UNMAPPED;
  facts.inputOnly = attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY;
  if (wmState && wmState->type != XCB_ATOM_NONE) facts.wmState = propertyWord(wmState.get());
  facts.title = titleOf(x, netName.get(), name.get());
  auto [instance, className] = wmClassNames(wmClass.get());
  facts.wmInstance = decodeText(instance, TextEncoding::Utf8);
  facts.wmClass = decodeText(className, TextEncoding::Utf8);
  facts.gtkApplicationId = decodeText(propertyBytes(gtkId.get()), TextEncoding::Utf8);
  facts.clientMachine = decodeText(propertyBytes(machine.get()), TextEncoding::Latin1);
  facts.netWmPid = static_cast<int32_t>(wmPid(pid.get()));
  for (xcb_atom_t value : atomList(type.get())) {
    if (auto atom = x.atoms().find(value)) facts.types.push_back(*atom);
  }
  std::vector<xcb_atom_t> states = atomList(state.get());
  auto hasState = [&](Atom a) {
    return std::find(states.begin(), states.end(), x.atom(a)) != states.end();
  };
  facts.keptAbove = hasState(Atom::_NET_WM_STATE_ABOVE);
  facts.hidden = hasState(Atom::_NET_WM_STATE_HIDDEN);
  if (geometry && origin) {
    facts.bounds =
        Rect{static_cast<double>(origin->dst_x), static_cast<double>(origin->dst_y),
             static_cast<double>(geometry->width), static_cast<double>(geometry->height)};
  }
}

}  // namespace

std::vector<WindowFacts> fetchWindowFacts(const XConnection& x, std::span<const xcb_window_t> ids) {
  std::vector<Cookies> cookies;
  cookies.reserve(ids.size());
  for (xcb_window_t id : ids) cookies.push_back(send(x, id));
  xcb_flush(x.get());
  std::vector<WindowFacts> all(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    all[i].id = ids[i];
    collect(x, cookies[i], all[i]);
  }
  return all;
}

bool isNormalWindow(const WindowFacts& facts) {
  // A window manager treats a window whose types it does not know as a normal one.
  return facts.types.empty() || facts.types.front() == Atom::_NET_WM_WINDOW_TYPE_NORMAL;
}

}  // namespace tavren::x11
