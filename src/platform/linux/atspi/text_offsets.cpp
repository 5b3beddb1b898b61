#include "platform/linux/atspi/text_offsets.h"

#include <unicode/unistr.h>

#include <algorithm>

namespace tavren::atspi {
namespace {

icu::UnicodeString unicode(const std::string& text) {
  return icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

int64_t codePointOffset(const std::string& utf8, int64_t utf16) {
  const icu::UnicodeString text = unicode(utf8);
  const int32_t at = static_cast<int32_t>(std::clamp<int64_t>(utf16, 0, text.length()));
  return text.countChar32(0, at);
}

int64_t utf16Offset(const std::string& utf8, int64_t codePoints) {
  const icu::UnicodeString text = unicode(utf8);
  const int32_t steps = static_cast<int32_t>(std::clamp<int64_t>(codePoints, 0, text.length()));
  return text.moveIndex32(0, steps);
}

}  // namespace tavren::atspi
