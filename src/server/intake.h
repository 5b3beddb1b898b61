#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "core/json.h"

namespace tavren {

inline constexpr const char* kInvalidJsonMessage = "Invalid JSON request";
inline constexpr const char* kUnsupportedVersionMessage = "Unsupported protocol version";

// Deeper nesting than this is refused as invalid JSON rather than risking the stack.
inline constexpr size_t kMaxJsonDepth = 512;

// A request that passed intake: its identifier, method and the whole request object.
struct AcceptedRequest {
  std::string id;
  std::string method;
  Json request;
};

// A line that intake answers itself.
struct RejectedLine {
  std::string id;
  std::string message;
};

using IntakeResult = std::variant<AcceptedRequest, RejectedLine>;

// Takes one input line (without its line feed) through repair, parsing and the envelope checks.
IntakeResult takeInLine(std::string_view line);

// True when arrays and objects nest deeper than `limit` anywhere in the text.
bool nestsDeeperThan(std::string_view text, size_t limit);

}  // namespace tavren
