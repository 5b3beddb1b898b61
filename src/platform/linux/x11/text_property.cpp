#include "platform/linux/x11/text_property.h"

#include "core/unicode_text.h"

namespace tavren::x11 {

namespace {

std::string validUtf8(std::string_view bytes) {
  // A NUL inside a title would end it early downstream.
  std::string spaced(bytes);
  for (char& c : spaced) {
    if (c == '\0') c = ' ';
  }
  return utf8Repaired(spaced);
}

void appendLatin1(std::string& out, unsigned char c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// ISO 2022 escape sequences: ESC, intermediate bytes 0x20-0x2F, one final byte 0x30-0x7E.
size_t skipEscape(std::string_view bytes, size_t at) {
  size_t i = at + 1;
  while (i < bytes.size() && bytes[i] >= 0x20 && bytes[i] <= 0x2F) ++i;
  return i < bytes.size() ? i + 1 : i;
}

}  // namespace

std::string decodeText(std::string_view bytes, TextEncoding encoding) {
  while (!bytes.empty() && bytes.back() == '\0') bytes.remove_suffix(1);
  if (encoding == TextEncoding::Utf8) return validUtf8(bytes);
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    auto c = static_cast<unsigned char>(bytes[i]);
    if (encoding == TextEncoding::CompoundText && c == 0x1B) {
      i = skipEscape(bytes, i);
      continue;
    }
    if (c == 0) c = ' ';
    appendLatin1(out, c);
    ++i;
  }
  return out;
}

}  // namespace tavren::x11
