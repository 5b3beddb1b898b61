#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace tavren::x11 {

class XLink;

// Every atom the backend uses. Add the name to kAtomNames in the same position.
enum class Atom : size_t {
  WM_STATE,
  UTF8_STRING,
  COMPOUND_TEXT,
  AT_SPI_BUS,
  _GTK_APPLICATION_ID,
  _NET_SUPPORTING_WM_CHECK,
  _NET_CLIENT_LIST,
  _NET_ACTIVE_WINDOW,
  _NET_WM_NAME,
  _NET_WM_PID,
  _NET_WM_STATE,
  _NET_WM_STATE_ABOVE,
  _NET_WM_STATE_BELOW,
  _NET_WM_STATE_HIDDEN,
  _NET_WM_WINDOW_TYPE,
  _NET_WM_WINDOW_TYPE_DESKTOP,
  _NET_WM_WINDOW_TYPE_DOCK,
  _NET_WM_WINDOW_TYPE_TOOLBAR,
  _NET_WM_WINDOW_TYPE_MENU,
  _NET_WM_WINDOW_TYPE_UTILITY,
  _NET_WM_WINDOW_TYPE_SPLASH,
  _NET_WM_WINDOW_TYPE_DIALOG,
  _NET_WM_WINDOW_TYPE_DROPDOWN_MENU,
  _NET_WM_WINDOW_TYPE_POPUP_MENU,
  _NET_WM_WINDOW_TYPE_TOOLTIP,
  _NET_WM_WINDOW_TYPE_NOTIFICATION,
  _NET_WM_WINDOW_TYPE_COMBO,
  _NET_WM_WINDOW_TYPE_DND,
  _NET_WM_WINDOW_TYPE_NORMAL,
  _NET_FRAME_EXTENTS,
  Count,
};

inline constexpr size_t kAtomCount = static_cast<size_t>(Atom::Count);

inline constexpr std::array<std::string_view, kAtomCount> kAtomNames = {
    "WM_STATE",
    "UTF8_STRING",
    "COMPOUND_TEXT",
    "AT_SPI_BUS",
    "_GTK_APPLICATION_ID",
    "_NET_SUPPORTING_WM_CHECK",
    "_NET_CLIENT_LIST",
    "_NET_ACTIVE_WINDOW",
    "_NET_WM_NAME",
    "_NET_WM_PID",
    "_NET_WM_STATE",
    "_NET_WM_STATE_ABOVE",
    "_NET_WM_STATE_BELOW",
    "_NET_WM_STATE_HIDDEN",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_DND",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_FRAME_EXTENTS",
};

// Atom values of one connection, interned together: every request is sent before the first
// reply is read; an atom the server did not name in time stays XCB_ATOM_NONE. Immutable
// afterwards, so any thread may read it.
class AtomTable {
 public:
  AtomTable() { values_.fill(XCB_ATOM_NONE); }
  static AtomTable intern(const XLink& link);

  xcb_atom_t operator[](Atom atom) const { return values_[static_cast<size_t>(atom)]; }
  // The Atom a server value stands for, if it is one of ours.
  std::optional<Atom> find(xcb_atom_t value) const;

 private:
  std::array<xcb_atom_t, kAtomCount> values_;
};

}  // namespace tavren::x11
