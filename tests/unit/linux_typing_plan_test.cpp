// The Linux typing pieces that need no display: which keys type a text and which characters are
// bound to spare keycodes in which batch, the XSETTINGS reader, and the wheel's pixel mapping.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include "platform/linux/input/linux_event_poster.h"
#include "platform/linux/input/typing_plan.h"
#include "platform/linux/input/xsettings.h"

namespace tavren::input {
namespace {

// Keycodes 8 to 15, two columns: 8 a/A, 9 1/exclam, 10 Shift_L, 11 spare, 12 spare, 13 adiaeresis
// on the shifted column only, 14 spare, 15 Return.
Keymap smallKeymap() {
  Keymap map;
  map.minKeycode = 8;
  map.perKeycode = 2;
  map.keysyms = {XK_a, XK_A, XK_1, XK_exclam, XK_Shift_L, 0, 0, 0,
                 0,    0,    0,    XK_adiaeresis, 0, 0, XK_Return, 0};
  return map;
}

TEST(TypingPlan, OwnKeysFirstThenSpareKeycodesInBatches) {
  const Keymap map = smallKeymap();
  EXPECT_EQ(spareKeycodes(map), (std::vector<uint8_t>{11, 12, 14}));

  auto plan = planTyping(map, U"aA!\n\u00e4");
  ASSERT_EQ(plan.size(), 1u);
  EXPECT_TRUE(plan[0].bindings.empty());
  ASSERT_EQ(plan[0].strokes.size(), 5u);
  EXPECT_EQ(plan[0].strokes[0].keycode, 8);
  EXPECT_FALSE(plan[0].strokes[0].shift);
  EXPECT_TRUE(plan[0].strokes[1].shift);
  EXPECT_EQ(plan[0].strokes[2].keycode, 9);
  EXPECT_EQ(plan[0].strokes[3].keycode, 15);
  EXPECT_EQ(plan[0].strokes[4].keycode, 13);
  EXPECT_TRUE(plan[0].strokes[4].shift);

  // Three spare keycodes hold six characters, the second of each pair typed with Shift; a
  // repeat reuses its binding, the seventh distinct one opens a second batch that may reuse the
  // keycodes.
  plan = planTyping(map, U"東京東🙂ßαβγ");
  ASSERT_EQ(plan.size(), 2u);
  ASSERT_EQ(plan[0].bindings.size(), 3u);
  EXPECT_EQ(plan[0].bindings[0].keycode, 11);
  EXPECT_EQ(plan[0].bindings[0].keysym, 0x1000000u + 0x6771);
  EXPECT_EQ(plan[0].bindings[0].shifted, 0x1000000u + 0x4EAC);
  EXPECT_EQ(plan[0].bindings[1].keysym, 0x1000000u + 0x1F642);
  EXPECT_EQ(plan[0].bindings[1].shifted, uint32_t{XK_ssharp});
  EXPECT_EQ(plan[0].bindings[2].keycode, 14);
  EXPECT_EQ(plan[0].bindings[2].shifted, 0x1000000u + 0x3B2);
  ASSERT_EQ(plan[0].strokes.size(), 7u);
  EXPECT_EQ(plan[0].strokes[0].keycode, plan[0].strokes[2].keycode);
  EXPECT_FALSE(plan[0].strokes[0].shift);
  EXPECT_TRUE(plan[0].strokes[1].shift);
  EXPECT_EQ(plan[0].strokes[1].keycode, 11);
  ASSERT_EQ(plan[1].bindings.size(), 1u);
  EXPECT_EQ(plan[1].bindings[0].keysym, 0x1000000u + 0x3B3);
  EXPECT_EQ(plan[1].bindings[0].shifted, 0u);
  EXPECT_EQ(plan[1].strokes.size(), 1u);

  // Without a Shift key the shifted column could not be typed: one character per keycode.
  Keymap noShift = map;
  noShift.keysyms[4] = 0;
  plan = planTyping(noShift, U"東京");
  ASSERT_EQ(plan.size(), 1u);
  ASSERT_EQ(plan[0].bindings.size(), 2u);
  EXPECT_EQ(plan[0].bindings[1].keysym, 0x1000000u + 0x4EAC);
  EXPECT_FALSE(plan[0].strokes[1].shift);

  // No spare keycode at all: nothing can type what the keymap lacks.
  Keymap full = map;
  for (auto& k : full.keysyms) k = k ? k : XK_b;
  EXPECT_TRUE(planTyping(full, U"東").empty());
  EXPECT_EQ(planTyping(full, U"a").size(), 1u);
}

TEST(TypingPlan, KeycodeRunsCoverOnlyTheKeycodesGiven) {
  auto runs = keycodeRuns({20, 9, 10, 11, 11, 14, 255, 13});
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(runs[0].first, 9);
  EXPECT_EQ(runs[0].count, 3);
  EXPECT_EQ(runs[1].first, 13);
  EXPECT_EQ(runs[1].count, 2);
  EXPECT_EQ(runs[2].first, 20);
  EXPECT_EQ(runs[2].count, 1);
  EXPECT_EQ(runs[3].first, 255);  // the last keycode ends a run without wrapping to 0
  EXPECT_EQ(runs[3].count, 1);
  EXPECT_TRUE(keycodeRuns({}).empty());
}

// Builds an XSETTINGS property in the given byte order.
std::string settingsBytes(bool msbFirst) {
  std::string out;
  auto word = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
      int shift = msbFirst ? 8 * (bytes - 1 - i) : 8 * i;
      out.push_back(static_cast<char>((v >> shift) & 0xFF));
    }
  };
  auto name = [&](const std::string& n) {
    word(static_cast<uint32_t>(n.size()), 2);
    out += n;
    while (out.size() % 4) out.push_back('\0');
  };
  out.push_back(msbFirst ? 1 : 0);
  out.append(3, '\0');
  word(7, 4);  // serial
  word(3, 4);  // settings
  out.push_back(1);  // string
  out.push_back(0);
  name("Net/ThemeName");
  word(0, 4);
  word(5, 4);
  out += "Adwai";
  out.append(3, '\0');
  out.push_back(2);  // color
  out.push_back(0);
  name("Gtk/Color");
  word(0, 4);
  out.append(8, '\x7f');
  out.push_back(0);  // integer
  out.push_back(0);
  name("Net/DoubleClickTime");
  word(0, 4);
  word(250, 4);
  return out;
}

TEST(XSettings, ReadsIntegersInEitherByteOrderAndStopsAtDamage) {
  EXPECT_EQ(xsettingsInteger(settingsBytes(false), "Net/DoubleClickTime"), 250);
  EXPECT_EQ(xsettingsInteger(settingsBytes(true), "Net/DoubleClickTime"), 250);
  EXPECT_EQ(xsettingsInteger(settingsBytes(false), "Net/ThemeName"), std::nullopt);
  EXPECT_EQ(xsettingsInteger(settingsBytes(false), "Net/Missing"), std::nullopt);
  std::string cut = settingsBytes(false);
  cut.resize(cut.size() - 2);
  EXPECT_EQ(xsettingsInteger(cut, "Net/DoubleClickTime"), std::nullopt);
  EXPECT_EQ(xsettingsInteger("", "Net/DoubleClickTime"), std::nullopt);
}

TEST(WheelClicks, CarryTheRestAndDropItOnAReversal) {
  int32_t rest = 0;
  EXPECT_EQ(wheelClicks(120, rest), 2);
  EXPECT_EQ(rest, 20);
  EXPECT_EQ(wheelClicks(30, rest), 1);
  EXPECT_EQ(rest, 0);
  EXPECT_EQ(wheelClicks(10, rest), 0);
  EXPECT_EQ(wheelClicks(-60, rest), -1);  // the 10 up is forgotten
  EXPECT_EQ(rest, -10);
  rest = 0;
  EXPECT_EQ(wheelClicks(INT32_MIN, rest), INT32_MIN / kPixelsPerWheelClick);
}

}  // namespace
}  // namespace tavren::input
