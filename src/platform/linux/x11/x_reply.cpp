#include "platform/linux/x11/x_reply.h"

#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <cstring>

namespace tavren::x11 {

std::string propertyBytes(const xcb_get_property_reply_t* reply) {
  if (!reply || reply->format != 8) return {};
  auto* data = static_cast<const char*>(xcb_get_property_value(reply));
  int length = xcb_get_property_value_length(reply);
  if (!data || length <= 0) return {};
  return std::string(data, static_cast<size_t>(length));
}

std::vector<uint32_t> propertyWords(const xcb_get_property_reply_t* reply) {
  if (!reply || reply->format != 32) return {};
  int length = xcb_get_property_value_length(reply);
  if (length <= 0) return {};
  std::vector<uint32_t> words(static_cast<size_t>(length) / 4);
  std::memcpy(words.data(), xcb_get_property_value(reply), words.size() * 4);
  return words;
}

uint32_t propertyWord(const xcb_get_property_reply_t* reply, uint32_t fallback) {
  if (!reply || reply->format != 32 || xcb_get_property_value_length(reply) < 4) return fallback;
  uint32_t word;
  std::memcpy(&word, xcb_get_property_value(reply), 4);
  return word;
}

// The xcb-ewmh and xcb-icccm decoders below read from the reply and, for lists, point into it;
// the reply stays owned by the caller (their "wipe" functions, which free it, are not used).

std::vector<xcb_window_t> windowList(xcb_get_property_reply_t* reply) {
  xcb_ewmh_get_windows_reply_t list;
  if (!xcb_ewmh_get_windows_from_reply(&list, reply)) return {};
  return std::vector<xcb_window_t>(list.windows, list.windows + list.windows_len);
}

std::vector<xcb_atom_t> atomList(xcb_get_property_reply_t* reply) {
  xcb_ewmh_get_atoms_reply_t list;
  if (!xcb_ewmh_get_atoms_from_reply(&list, reply)) return {};
  return std::vector<xcb_atom_t>(list.atoms, list.atoms + list.atoms_len);
}

xcb_window_t singleWindow(xcb_get_property_reply_t* reply) {
  xcb_window_t window = XCB_WINDOW_NONE;
  if (!xcb_ewmh_get_window_from_reply(&window, reply)) return XCB_WINDOW_NONE;
  return window;
}

uint32_t wmPid(xcb_get_property_reply_t* reply) {
  uint32_t pid = 0;
  return xcb_ewmh_get_wm_pid_from_reply(&pid, reply) ? pid : 0;
}

std::optional<std::array<uint32_t, 4>> frameExtents(xcb_get_property_reply_t* reply) {
  xcb_ewmh_get_extents_reply_t extents;
  if (!xcb_ewmh_get_frame_extents_from_reply(&extents, reply)) return std::nullopt;
  return std::array<uint32_t, 4>{extents.left, extents.right, extents.top, extents.bottom};
}

std::pair<std::string, std::string> wmClassNames(xcb_get_property_reply_t* reply) {
  // The decoder ends the value with a NUL in place, one byte before it when the value is empty:
  // an empty property is not given to it.
  if (!reply || xcb_get_property_value_length(reply) <= 0) return {};
  xcb_icccm_get_wm_class_reply_t names;
  if (!xcb_icccm_get_wm_class_from_reply(&names, reply)) return {};
  return {names.instance_name, names.class_name};
}

}  // namespace tavren::x11
