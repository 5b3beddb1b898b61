#include "server/intake.h"

#include <unicode/ustring.h>

#include <cmath>
#include <vector>

#include "server/line_writer.h"

namespace tavren {

std::string utf8Repaired(std::string_view bytes) {
  bool ascii = true;
  for (unsigned char c : bytes) {
    if (c >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii || bytes.size() > static_cast<size_t>(INT32_MAX) / 2) return std::string(bytes);

  // Through UTF-16 with a substitution character: ICU does the validation and replacement.
  UErrorCode status = U_ZERO_ERROR;
  int32_t units = 0;
  int32_t substitutions = 0;
  u_strFromUTF8WithSub(nullptr, 0, &units, bytes.data(), static_cast<int32_t>(bytes.size()),
                       0xFFFD, &substitutions, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::string(bytes);
  if (substitutions == 0) return std::string(bytes);
  std::vector<UChar> wide(static_cast<size_t>(units));
  status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(wide.data(), units, &units, bytes.data(),
                       static_cast<int32_t>(bytes.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return std::string(bytes);
  std::string out(static_cast<size_t>(units) * 3, '\0');
  int32_t length = 0;
  status = U_ZERO_ERROR;
  u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &length, wide.data(), units, &status);
  if (U_FAILURE(status)) return std::string(bytes);
  out.resize(static_cast<size_t>(length));
  return out;
}

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
