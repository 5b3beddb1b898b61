#include "server/intake.h"

#include <cmath>
#include <vector>

#include "core/unicode_text.h"
#include "server/line_writer.h"

namespace tavren {

bool nestsDeeperThan(std::string_view text, size_t limit) {
  size_t depth = 0;
  bool inString = false;
  bool escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        break;
      case '[':
      case '{':
        if (++depth > limit) return true;
        break;
      case ']':
      case '}':
        if (depth > 0) --depth;
        break;
      default:
        break;
    }
  }
  return false;
}

namespace {

bool versionAccepted(const Json& request) {
  auto it = request.find("version");
  if (it == request.end()) return false;
  double v = 0;
  if (it->is_boolean()) {
    v = it->get<bool>() ? 1 : 0;
  } else if (it->is_number()) {
    v = it->get<double>();
  } else {
    return false;
  }
  return std::isfinite(v) && std::trunc(v) == kProtocolVersion;
}

}  // namespace

IntakeResult takeInLine(std::string_view line) {
  // JSON text never holds a raw NUL, inside strings or out.
  if (line.find('\0') != std::string_view::npos) return RejectedLine{"", kInvalidJsonMessage};
  const std::string text = utf8Repaired(line);
  if (nestsDeeperThan(text, kMaxJsonDepth)) return RejectedLine{"", kInvalidJsonMessage};

  Json request = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!request.is_object()) return RejectedLine{"", kInvalidJsonMessage};

  std::string id;
  if (auto it = request.find("id"); it != request.end() && it->is_string()) {
    id = it->get<std::string>();
  }
  if (!versionAccepted(request)) return RejectedLine{id, kUnsupportedVersionMessage};

  std::string method;
  if (auto it = request.find("method"); it != request.end() && it->is_string()) {
    method = it->get<std::string>();
  }
  return AcceptedRequest{std::move(id), std::move(method), std::move(request)};
}

}  // namespace tavren
