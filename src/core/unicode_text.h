#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavren {

// The text with every byte sequence that is not valid UTF-8 replaced by U+FFFD (the one repair
// every input takes: request lines, window properties).
std::string utf8Repaired(std::string_view bytes);

// The first `count` user-perceived characters (extended grapheme clusters) of UTF-8 text, so a
// cut never splits a combined character or an emoji sequence.
std::string graphemePrefix(std::string_view text, size_t count);

// The length of UTF-8 text in UTF-16 code units.
int64_t utf16Length(std::string_view text);

// Unicode default lower-casing, independent of the locale.
std::string lowerCased(std::string_view text);

// Leading and trailing white space and line breaks removed (the Unicode White_Space set).
std::string trimmedWhiteSpace(std::string_view text);

}  // namespace tavren
