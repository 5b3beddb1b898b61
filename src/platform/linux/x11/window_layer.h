#pragma once

#include <cstdint>
#include <span>

#include "platform/linux/x11/atoms.h"

namespace tavren::x11 {

// Window layers as the protocol reports them: larger is nearer the viewer.
inline constexpr int32_t kNormalLayer = 0;
inline constexpr int32_t kKeptAboveLayer = 3;
inline constexpr int32_t kDockLayer = 20;
inline constexpr int32_t kPopupLayer = 101;
inline constexpr int32_t kDesktopLayer = -2147483623;

struct LayerRule {
  Atom type;
  int32_t layer;
};

// EWMH window type to layer.
inline constexpr LayerRule kLayerByType[] = {
    {Atom::_NET_WM_WINDOW_TYPE_NORMAL, kNormalLayer},
    {Atom::_NET_WM_WINDOW_TYPE_DIALOG, kNormalLayer},
    {Atom::_NET_WM_WINDOW_TYPE_UTILITY, kNormalLayer},
    {Atom::_NET_WM_WINDOW_TYPE_TOOLBAR, kNormalLayer},
    {Atom::_NET_WM_WINDOW_TYPE_MENU, kNormalLayer},  // a torn-off menu is an ordinary window
    {Atom::_NET_WM_WINDOW_TYPE_SPLASH, kNormalLayer},
    {Atom::_NET_WM_WINDOW_TYPE_DOCK, kDockLayer},
    {Atom::_NET_WM_WINDOW_TYPE_DESKTOP, kDesktopLayer},
    {Atom::_NET_WM_WINDOW_TYPE_DROPDOWN_MENU, kPopupLayer},
    {Atom::_NET_WM_WINDOW_TYPE_POPUP_MENU, kPopupLayer},
    {Atom::_NET_WM_WINDOW_TYPE_TOOLTIP, kPopupLayer},
    {Atom::_NET_WM_WINDOW_TYPE_NOTIFICATION, kPopupLayer},
    {Atom::_NET_WM_WINDOW_TYPE_COMBO, kPopupLayer},
    {Atom::_NET_WM_WINDOW_TYPE_DND, kPopupLayer},
};

// The layer of a window from its _NET_WM_WINDOW_TYPE list (most preferred first; the first
// known type decides), whether it bypasses the window manager, and whether it is kept above.
// An override-redirect window of an ordinary or unknown type is a pop-up.
int32_t windowLayer(std::span<const Atom> types, bool overrideRedirect, bool keptAbove);

}  // namespace tavren::x11
