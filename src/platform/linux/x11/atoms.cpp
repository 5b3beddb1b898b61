#include "platform/linux/x11/atoms.h"

#include "platform/linux/x11/x_reply.h"

namespace tavren::x11 {

AtomTable AtomTable::intern(xcb_connection_t* connection) {
  AtomTable table;
  std::array<xcb_intern_atom_cookie_t, kAtomCount> cookies;
  for (size_t i = 0; i < kAtomCount; ++i) {
    cookies[i] = xcb_intern_atom(connection, 0, static_cast<uint16_t>(kAtomNames[i].size()),
                                 kAtomNames[i].data());
  }
  for (size_t i = 0; i < kAtomCount; ++i) {
    auto reply = own(xcb_intern_atom_reply(connection, cookies[i], nullptr));
    if (reply) table.values_[i] = reply->atom;
  }
  return table;
}

std::optional<Atom> AtomTable::find(xcb_atom_t value) const {
  if (value == XCB_ATOM_NONE) return std::nullopt;
  for (size_t i = 0; i < kAtomCount; ++i) {
    if (values_[i] == value) return static_cast<Atom>(i);
  }
  return std::nullopt;
}

}  // namespace tavren::x11
