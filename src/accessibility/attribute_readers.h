#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/accessibility.h"

namespace tavren {

// Readers that turn one attribute, as the platform answered, into a plain value with a fixed
// default, so that describing an element never branches on platform errors.

// The string, or "" for a failed read or any other kind.
std::string axString(const AttributeValue& value);
// A boolean as is; a number is true when non-zero; false otherwise.
bool axBool(const AttributeValue& value);
// The point or size, or none for a failed read or any other kind.
std::optional<Point> axPoint(const AttributeValue& value);
std::optional<Size> axSize(const AttributeValue& value);
// A string cut to its first 120 characters; a number (booleans included) as decimal text;
// "" otherwise.
std::string axScalar(const AttributeValue& value);
// The action names; the empty list when the call failed or any entry is not a string.
std::vector<std::string> axActions(const std::optional<std::vector<AttributeValue>>& actions);

}  // namespace tavren
