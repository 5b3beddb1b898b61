#pragma once

#include <nlohmann/json.hpp>

namespace tavren {

// The value model of requests, results and events.
using Json = nlohmann::json;

// Compact single-line UTF-8 text; invalid UTF-8 in strings becomes U+FFFD, so this never throws.
inline std::string compactJson(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace tavren
