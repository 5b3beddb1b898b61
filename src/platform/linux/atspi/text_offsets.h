#pragma once

#include <cstdint>
#include <string>

namespace tavren::atspi {

// AT-SPI counts text offsets in code points; the protocol in UTF-16 units. Both convert within
// the given UTF-8 text and clamp to its ends. A UTF-16 offset inside a surrogate pair counts
// as the code point that pair begins.
int64_t codePointOffset(const std::string& utf8, int64_t utf16Offset);
int64_t utf16Offset(const std::string& utf8, int64_t codePointOffset);

}  // namespace tavren::atspi
