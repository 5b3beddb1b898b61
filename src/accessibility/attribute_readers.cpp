#include "accessibility/attribute_readers.h"

#include <charconv>
#include <cmath>
#include <memory>

#include "core/unicode_text.h"

namespace tavren {
namespace {

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

}  // namespace tavren
