#include "platform/linux/x11/x_reply.h"

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

}  // namespace tavren::x11
