#include "platform/linux/x11/atoms.h"

#include "platform/linux/x11/x_link.h"

namespace tavren::x11 {

AtomTable AtomTable::intern(const XLink& link) {
  AtomTable table;
  std::array<xcb_intern_atom_cookie_t, kAtomCount> cookies;
  for (size_t i = 0; i < kAtomCount; ++i) {
    cookies[i] = xcb_intern_atom(link.get(), 0, static_cast<uint16_t>(kAtomNames[i].size()),
                                 kAtomNames[i].data());
  }
  for (size_t i = 0; i < kAtomCount; ++i) {
    auto reply = link.reply(xcb_intern_atom_reply, cookies[i]);
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
