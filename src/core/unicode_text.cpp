#include "core/unicode_text.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <climits>
#include <memory>
#include <vector>

namespace tavren {
namespace {

icu::UnicodeString unicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string utf8(const icu::UnicodeString& text) {
  std::string out;
  return text.toUTF8String(out);
}

}  // namespace

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
  u_strFromUTF8WithSub(nullptr, 0, &units, bytes.data(), static_cast<int32_t>(bytes.size()), 0xFFFD,
                       &substitutions, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::string(bytes);
  if (substitutions == 0) return std::string(bytes);
  std::vector<UChar> wide(static_cast<size_t>(units));
  status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(wide.data(), units, &units, bytes.data(), static_cast<int32_t>(bytes.size()),
                       0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return std::string(bytes);
  std::string out(static_cast<size_t>(units) * 3, '\0');
  int32_t length = 0;
  status = U_ZERO_ERROR;
  u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &length, wide.data(), units, &status);
  if (U_FAILURE(status)) return std::string(bytes);
  out.resize(static_cast<size_t>(length));
  return out;
}

std::string graphemePrefix(std::string_view text, size_t count) {
  if (text.size() <= count) return std::string(text);  // fewer bytes than clusters asked for
  icu::UnicodeString u = unicode(text);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> clusters(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status)) return std::string(text);
  clusters->setText(u);
  int32_t end = clusters->first();
  for (size_t i = 0; i < count; ++i) {
    int32_t next = clusters->next();
    if (next == icu::BreakIterator::DONE) return utf8(u);
    end = next;
  }
  return utf8(u.tempSubString(0, end));
}

int64_t utf16Length(std::string_view text) { return unicode(text).length(); }

std::string lowerCased(std::string_view text) {
  icu::UnicodeString u = unicode(text);
  u.toLower(icu::Locale::getRoot());
  return utf8(u);
}

std::string trimmedWhiteSpace(std::string_view text) {
  icu::UnicodeString u = unicode(text);
  int32_t start = 0, end = u.length();
  while (start < end && u_isUWhiteSpace(u.char32At(start))) start = u.moveIndex32(start, 1);
  while (end > start) {
    int32_t previous = u.moveIndex32(end, -1);
    if (!u_isUWhiteSpace(u.char32At(previous))) break;
    end = previous;
  }
  return utf8(u.tempSubStringBetween(start, end));
}

}  // namespace tavren
