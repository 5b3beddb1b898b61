#pragma once

#include <string>
#include <string_view>

namespace tavren::x11 {

enum class TextEncoding { Utf8, Latin1, CompoundText };

// Text of a window property as valid UTF-8. Invalid UTF-8 sequences become U+FFFD; Latin-1
// is converted; compound text keeps its ASCII and Latin-1 parts and drops its escape sequences
// (switching to another character set is rare in window titles and cannot be decoded here).
// A trailing NUL terminator, which some clients include, is dropped.
std::string decodeText(std::string_view bytes, TextEncoding encoding);

}  // namespace tavren::x11
