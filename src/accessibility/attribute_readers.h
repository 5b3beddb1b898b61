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

// The first `count` user-perceived characters (extended grapheme clusters) of UTF-8 text, so a
// cut never splits a combined character or an emoji sequence.
std::string graphemePrefix(std::string_view text, size_t count);

// Unicode default lower-casing, independent of the locale.
std::string lowerCased(std::string_view text);

// Leading and trailing white space and line breaks removed (the Unicode White_Space set).
std::string trimmedWhiteSpace(std::string_view text);

}  // namespace tavren
