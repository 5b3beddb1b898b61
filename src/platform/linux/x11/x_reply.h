#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavren::x11 {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// An XCB reply, owned. XCB allocates replies with malloc.
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter>;

template <class T>
Reply<T> own(T* reply) {
  return Reply<T>(reply);
}

// Property values. Each returns an empty value for a missing reply, a missing property or one
// of another format or type. The EWMH and ICCCM ones are decoded by xcb-ewmh and xcb-icccm,
// which check the type and length the specifications give.
std::string propertyBytes(const xcb_get_property_reply_t* reply);
std::vector<uint32_t> propertyWords(const xcb_get_property_reply_t* reply);
uint32_t propertyWord(const xcb_get_property_reply_t* reply, uint32_t fallback = 0);
// A WINDOW[]/32 list such as _NET_CLIENT_LIST.
std::vector<xcb_window_t> windowList(xcb_get_property_reply_t* reply);
// An ATOM[]/32 list such as _NET_WM_STATE or _NET_WM_WINDOW_TYPE.
std::vector<xcb_atom_t> atomList(xcb_get_property_reply_t* reply);
// One WINDOW/32, such as _NET_SUPPORTING_WM_CHECK; XCB_WINDOW_NONE when absent.
xcb_window_t singleWindow(xcb_get_property_reply_t* reply);
// _NET_WM_PID; 0 when absent.
uint32_t wmPid(xcb_get_property_reply_t* reply);
// _NET_FRAME_EXTENTS: left, right, top, bottom; none when absent.
std::optional<std::array<uint32_t, 4>> frameExtents(xcb_get_property_reply_t* reply);
// WM_CLASS: its instance and class names as they stand (not yet checked as text); both empty when
// absent.
std::pair<std::string, std::string> wmClassNames(xcb_get_property_reply_t* reply);

// The long length to ask for a property of at most this many 32-bit words (or 4x as many bytes).
inline constexpr uint32_t kSmallProperty = 64;
inline constexpr uint32_t kListProperty = 4096;

}  // namespace tavren::x11
