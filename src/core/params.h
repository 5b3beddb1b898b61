#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "core/json.h"

namespace tavren {

// Parameter readers. They are lenient on purpose: a missing or mistyped member reads as absent
// (or 0 for numbers); only the handlers decide what absence means.

// A JSON number or boolean as a double; 0 when absent or of another type.
double number(const Json& params, std::string_view key);
// A JSON string; absent otherwise.
std::optional<std::string> stringParam(const Json& params, std::string_view key);
// JSON true/false, or a number equal to 1 or 0; absent otherwise.
std::optional<bool> boolParam(const Json& params, std::string_view key);
// The member when it is an object (or array); nullptr otherwise.
const Json* objectParam(const Json& params, std::string_view key);
const Json* arrayParam(const Json& params, std::string_view key);

// Truncates toward zero and converts to T; absent when the value is not finite or the truncated
// value does not fit T.
template <class T>
std::optional<T> truncatedInteger(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  const double t = std::trunc(value);
  // Both bounds are exact powers of two, so the comparisons are exact in double.
  const double lo = static_cast<double>(std::numeric_limits<T>::min());
  const double hiExclusive = static_cast<double>(std::numeric_limits<T>::max() / 2 + 1) * 2.0;
  if (t < lo || t >= hiExclusive) return std::nullopt;
  return static_cast<T>(t);
}

}  // namespace tavren
