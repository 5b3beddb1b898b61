#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <vector>

#include "platform/linux/input/key_table.h"

namespace tavren::input {
namespace {

TEST(KeyTable, VirtualKeyCodesNameTheirKeys) {
  EXPECT_EQ(keysymForKeyCode(0), XK_a);
  EXPECT_EQ(keysymForKeyCode(36), XK_Return);
  EXPECT_EQ(keysymForKeyCode(49), XK_space);
  EXPECT_EQ(keysymForKeyCode(51), XK_BackSpace);
  EXPECT_EQ(keysymForKeyCode(117), XK_Delete);
  EXPECT_EQ(keysymForKeyCode(126), XK_Up);
  EXPECT_EQ(keysymForKeyCode(55), XK_Super_L);
  // Gaps in the layout and codes past it name nothing.
  EXPECT_FALSE(keysymForKeyCode(0x42));
  EXPECT_FALSE(keysymForKeyCode(0x7F));
  EXPECT_FALSE(keysymForKeyCode(65535));
}

TEST(KeyTable, EveryKeyReadsBackToItsOwnCode) {
  for (uint32_t code = 0; code < 0x80; ++code) {
    auto keysym = keysymForKeyCode(static_cast<uint16_t>(code));
    if (!keysym) continue;
    EXPECT_EQ(keyCodeForKeysym(*keysym), code) << "key code " << code;
  }
  EXPECT_EQ(keyCodeForKeysym(XK_Q), 0x0C);  // shifted letters are the same key
  EXPECT_FALSE(keyCodeForKeysym(0x1000000 + 0x4E2D));
}

TEST(KeyTable, ModifierFlagsComeFromEitherHandsKey) {
  std::vector<uint16_t> held = {56, 0, 61};
  EXPECT_EQ(modifierFlagsForKeys(held), kFlagShift | kFlagOption);
  held = {60, 62, 54};
  EXPECT_EQ(modifierFlagsForKeys(held), kFlagShift | kFlagControl | kFlagCommand);
  EXPECT_EQ(modifierFlagsForKeys({}), 0u);
}

TEST(KeyTable, CodePointsTypeThroughLatin1NamedOrUnicodeKeysyms) {
  EXPECT_EQ(keysymForCodePoint(U'a'), XK_a);
  EXPECT_EQ(keysymForCodePoint(U'\u00e9'), XK_eacute);
  EXPECT_EQ(keysymForCodePoint(U'\n'), XK_Return);
  EXPECT_EQ(keysymForCodePoint(U'\t'), XK_Tab);
  EXPECT_EQ(keysymForCodePoint(U'\u4e2d'), 0x1004E2Du);
  EXPECT_EQ(keysymForCodePoint(U'\U0001F600'), 0x101F600u);
  // C1 controls have no Latin-1 keysym of their own.
  EXPECT_EQ(keysymForCodePoint(0x85), 0x1000085u);
}

}  // namespace
}  // namespace tavren::input
