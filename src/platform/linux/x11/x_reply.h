#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
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
// of another format.
std::string propertyBytes(const xcb_get_property_reply_t* reply);
std::vector<uint32_t> propertyWords(const xcb_get_property_reply_t* reply);
uint32_t propertyWord(const xcb_get_property_reply_t* reply, uint32_t fallback = 0);

// The long length to ask for a property of at most this many 32-bit words (or 4x as many bytes).
inline constexpr uint32_t kSmallProperty = 64;
inline constexpr uint32_t kListProperty = 4096;

}  // namespace tavren::x11
