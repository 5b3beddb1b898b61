// Recorded X events as observed input: key codes through the keymap, the modifiers held, the
// buttons and the wheel.
#include "platform/linux/input/recorded_input.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <array>
#include <cstring>

namespace tavren::input {
namespace {

// keycode 10 'a', 11 '1', 12 Shift_L, 13 Super_L, 14 Num_Lock, 15 F13-like unknown
Keymap testKeymap() {
  Keymap map;
  map.minKeycode = 10;
  map.perKeycode = 2;
  map.keysyms = {XK_a, XK_A, XK_1, XK_exclam, XK_Shift_L, 0, XK_Super_L, 0, XK_Num_Lock, 0,
                 0x1008FF99, 0};
  return map;
}

std::array<uint8_t, 32> event(uint8_t type, uint8_t detail, int16_t x = 7, int16_t y = 9) {
  xcb_key_press_event_t e{};
  e.response_type = type;
  e.detail = detail;
  e.root_x = x;
  e.root_y = y;
  std::array<uint8_t, 32> bytes{};
  std::memcpy(bytes.data(), &e, sizeof e);
  return bytes;
}

TEST(RecordedInputTest, KeysTakeTheirVirtualCodeAndTheHeldModifiers) {
  const Keymap map = testKeymap();
  HeldModifiers held;
  auto a = decodeRecordedEvent(event(XCB_KEY_PRESS, 10), map, held);
  ASSERT_TRUE(a && a->key);
  EXPECT_EQ(a->key->keyCode, 0);
  EXPECT_EQ(a->key->flags, 0u);
  EXPECT_EQ(a->location.x, 7);
  EXPECT_EQ(a->location.y, 9);
  EXPECT_FALSE(decodeRecordedEvent(event(XCB_KEY_PRESS, 12), map, held));  // shift alone
  EXPECT_FALSE(decodeRecordedEvent(event(XCB_KEY_PRESS, 13), map, held));  // super alone
  auto one = decodeRecordedEvent(event(XCB_KEY_PRESS, 11), map, held);
  ASSERT_TRUE(one && one->key);
  EXPECT_EQ(one->key->keyCode, 18);
  EXPECT_EQ(one->key->flags, 0x20000u | 0x100000u);
  EXPECT_FALSE(decodeRecordedEvent(event(XCB_KEY_RELEASE, 12), map, held));
  EXPECT_FALSE(decodeRecordedEvent(event(XCB_KEY_RELEASE, 11), map, held));
  EXPECT_EQ(decodeRecordedEvent(event(XCB_KEY_PRESS, 10), map, held)->key->flags, 0x100000u);
  EXPECT_FALSE(decodeRecordedEvent(event(XCB_KEY_PRESS, 14), map, held));  // Num Lock
  EXPECT_EQ(decodeRecordedEvent(event(XCB_KEY_PRESS, 15), map, held)->key->keyCode, kNoKeyCode);
  EXPECT_EQ(decodeRecordedEvent(event(XCB_KEY_PRESS, 200), map, held)->key->keyCode, kNoKeyCode);
}

TEST(RecordedInputTest, ButtonsAndTheWheel) {
  const Keymap map = testKeymap();
  HeldModifiers held;
  auto button = [&](uint8_t b) { return decodeRecordedEvent(event(XCB_BUTTON_PRESS, b), map, held); };
  EXPECT_EQ(button(1)->pointer->button, 0);
  EXPECT_EQ(button(3)->pointer->button, 1);
  EXPECT_EQ(button(2)->pointer->button, 2);
  EXPECT_EQ(button(8)->pointer->button, 3);
  EXPECT_EQ(button(1)->pointer->action, PointerAction::Down);
  EXPECT_EQ(button(4)->scroll->lines[0], 1);
  EXPECT_EQ(button(5)->scroll->lines[0], -1);
  EXPECT_EQ(button(6)->scroll->lines[1], 1);
  EXPECT_EQ(button(7)->scroll->lines[1], -1);
  EXPECT_EQ(button(7)->scroll->lines[0], 0);
  EXPECT_FALSE(decodeRecordedEvent(event(XCB_BUTTON_RELEASE, 1), map, held));
  EXPECT_FALSE(decodeRecordedEvent(event(XCB_MOTION_NOTIFY, 0), map, held));
}

}  // namespace
}  // namespace tavren::input
