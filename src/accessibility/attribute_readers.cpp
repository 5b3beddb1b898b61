#include "accessibility/attribute_readers.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <charconv>
#include <cmath>
#include <memory>

namespace tavren {
namespace {

icu::UnicodeString unicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string utf8(const icu::UnicodeString& text) {
  std::string out;
  return text.toUTF8String(out);
}

// Decimal text of a number the way the platform's number objects print themselves: whole
// values without a fraction, others in the shortest form that reads back to the same double.
std::string decimalText(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  if (value == std::trunc(value) && std::fabs(value) < 1e15) {
    return std::to_string(static_cast<int64_t>(value));
  }
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

}  // namespace

std::string axString(const AttributeValue& value) {
  if (const auto* s = std::get_if<std::string>(&value)) return *s;
  return {};
}

bool axBool(const AttributeValue& value) {
  if (const auto* b = std::get_if<bool>(&value)) return *b;
  if (const auto* i = std::get_if<int64_t>(&value)) return *i != 0;
  if (const auto* d = std::get_if<double>(&value)) return *d != 0;
  return false;
}

std::optional<Point> axPoint(const AttributeValue& value) {
  if (const auto* p = std::get_if<Point>(&value)) return *p;
  return std::nullopt;
}

std::optional<Size> axSize(const AttributeValue& value) {
  if (const auto* s = std::get_if<Size>(&value)) return *s;
  return std::nullopt;
}

std::string axScalar(const AttributeValue& value) {
  if (const auto* s = std::get_if<std::string>(&value)) return graphemePrefix(*s, 120);
  if (const auto* b = std::get_if<bool>(&value)) return *b ? "1" : "0";
  if (const auto* i = std::get_if<int64_t>(&value)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&value)) return decimalText(*d);
  return {};
}

std::vector<std::string> axActions(const std::optional<std::vector<AttributeValue>>& actions) {
  std::vector<std::string> names;
  if (!actions) return names;
  for (const AttributeValue& action : *actions) {
    const auto* name = std::get_if<std::string>(&action);
    if (name == nullptr) return {};
    names.push_back(*name);
  }
  return names;
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
