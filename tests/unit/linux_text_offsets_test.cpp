// Converting text offsets between AT-SPI's code points and the protocol's UTF-16 units.
#include <gtest/gtest.h>

#include "platform/linux/atspi/text_offsets.h"

namespace tavren::atspi {
namespace {

TEST(TextOffsets, EmojiCombiningMarksAndCjk) {
  // "😀 e◌́ 漢" : 😀 is one code point and two units; e + combining acute two and two; 漢 one
  // and one.
  const std::string text = "\xF0\x9F\x98\x80 e\xCC\x81 \xE6\xBC\xA2";
  const int64_t units[] = {0, 2, 3, 4, 5, 6, 7};
  for (int64_t cp = 0; cp <= 6; ++cp) {
    EXPECT_EQ(utf16Offset(text, cp), units[cp]) << cp;
    EXPECT_EQ(codePointOffset(text, units[cp]), cp) << cp;
  }
  EXPECT_EQ(codePointOffset(text, 1), 1);  // inside the surrogate pair: the pair counts whole
  // Beyond either end clamps.
  EXPECT_EQ(utf16Offset(text, 99), 7);
  EXPECT_EQ(utf16Offset(text, -3), 0);
  EXPECT_EQ(codePointOffset(text, 99), 6);
  EXPECT_EQ(codePointOffset(text, -1), 0);
  EXPECT_EQ(codePointOffset("", 5), 0);
}

}  // namespace
}  // namespace tavren::atspi
