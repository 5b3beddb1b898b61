#include "platform/linux/input/key_table.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>

namespace tavren::input {
namespace {

struct KeyRow {
  uint16_t keyCode;
  uint32_t keysym;
};

// Sorted by key code. Keysyms of printable keys are the unshifted symbol of a US layout, which
// is what the Apple key codes name.
constexpr auto kKeys = std::to_array<KeyRow>({
    {0x00, XK_a},
    {0x01, XK_s},
    {0x02, XK_d},
    {0x03, XK_f},
    {0x04, XK_h},
    {0x05, XK_g},
    {0x06, XK_z},
    {0x07, XK_x},
    {0x08, XK_c},
    {0x09, XK_v},
    {0x0A, XK_section},
    {0x0B, XK_b},
    {0x0C, XK_q},
    {0x0D, XK_w},
    {0x0E, XK_e},
    {0x0F, XK_r},
    {0x10, XK_y},
    {0x11, XK_t},
    {0x12, XK_1},
    {0x13, XK_2},
    {0x14, XK_3},
    {0x15, XK_4},
    {0x16, XK_6},
    {0x17, XK_5},
    {0x18, XK_equal},
    {0x19, XK_9},
    {0x1A, XK_7},
    {0x1B, XK_minus},
    {0x1C, XK_8},
    {0x1D, XK_0},
    {0x1E, XK_bracketright},
    {0x1F, XK_o},
    {0x20, XK_u},
    {0x21, XK_bracketleft},
    {0x22, XK_i},
    {0x23, XK_p},
    {0x24, XK_Return},
    {0x25, XK_l},
    {0x26, XK_j},
    {0x27, XK_apostrophe},
    {0x28, XK_k},
    {0x29, XK_semicolon},
    {0x2A, XK_backslash},
    {0x2B, XK_comma},
    {0x2C, XK_slash},
    {0x2D, XK_n},
    {0x2E, XK_m},
    {0x2F, XK_period},
    {0x30, XK_Tab},
    {0x31, XK_space},
    {0x32, XK_grave},
    {0x33, XK_BackSpace},
    {0x35, XK_Escape},
    {0x36, XK_Super_R},
    {0x37, XK_Super_L},
    {0x38, XK_Shift_L},
    {0x39, XK_Caps_Lock},
    {0x3A, XK_Alt_L},
    {0x3B, XK_Control_L},
    {0x3C, XK_Shift_R},
    {0x3D, XK_Alt_R},
    {0x3E, XK_Control_R},
    {0x3F, XK_Hyper_L},  // fn: no X key of its own; Hyper is what keymaps leave unused
    {0x40, XK_F17},
    {0x41, XK_KP_Decimal},
    {0x43, XK_KP_Multiply},
    {0x45, XK_KP_Add},
    {0x47, XK_Num_Lock},  // keypad Clear sits where PC keypads have Num Lock
    {0x48, XF86XK_AudioRaiseVolume},
    {0x49, XF86XK_AudioLowerVolume},
    {0x4A, XF86XK_AudioMute},
    {0x4B, XK_KP_Divide},
    {0x4C, XK_KP_Enter},
    {0x4E, XK_KP_Subtract},
    {0x4F, XK_F18},
    {0x50, XK_F19},
    {0x51, XK_KP_Equal},
    {0x52, XK_KP_0},
    {0x53, XK_KP_1},
    {0x54, XK_KP_2},
    {0x55, XK_KP_3},
    {0x56, XK_KP_4},
    {0x57, XK_KP_5},
    {0x58, XK_KP_6},
    {0x59, XK_KP_7},
    {0x5A, XK_F20},
    {0x5B, XK_KP_8},
    {0x5C, XK_KP_9},
    {0x5D, XK_yen},
    {0x5E, XK_underscore},
    {0x5F, XK_KP_Separator},
    {0x60, XK_F5},
    {0x61, XK_F6},
    {0x62, XK_F7},
    {0x63, XK_F3},
    {0x64, XK_F8},
    {0x65, XK_F9},
    {0x66, XK_Eisu_toggle},
    {0x67, XK_F11},
    {0x68, XK_Kana_Lock},
    {0x69, XK_F13},
    {0x6A, XK_F16},
    {0x6B, XK_F14},
    {0x6D, XK_F10},
    {0x6E, XK_Menu},
    {0x6F, XK_F12},
    {0x71, XK_F15},
    {0x72, XK_Help},  // the Insert position on PC keyboards; X keymaps carry Help less often
    {0x73, XK_Home},
    {0x74, XK_Page_Up},
    {0x75, XK_Delete},
    {0x76, XK_F4},
    {0x77, XK_End},
    {0x78, XK_F2},
    {0x79, XK_Page_Down},
    {0x7A, XK_F1},
    {0x7B, XK_Left},
    {0x7C, XK_Right},
    {0x7D, XK_Down},
    {0x7E, XK_Up},
});

constexpr auto kModifiers = std::to_array<ModifierKey>({
    {kFlagShift, XK_Shift_L, 0x38, 0x3C},
    {kFlagControl, XK_Control_L, 0x3B, 0x3E},
    {kFlagOption, XK_Alt_L, 0x3A, 0x3D},
    {kFlagCommand, XK_Super_L, 0x37, 0x36},
});

constexpr bool sortedByKeyCode() {
  for (size_t i = 1; i < kKeys.size(); ++i) {
    if (kKeys[i - 1].keyCode >= kKeys[i].keyCode) return false;
  }
  return true;
}
static_assert(sortedByKeyCode(), "kKeys must stay sorted by key code");

}  // namespace

std::optional<uint32_t> keysymForKeyCode(uint16_t keyCode) {
  auto it = std::lower_bound(kKeys.begin(), kKeys.end(), keyCode,
                             [](const KeyRow& row, uint16_t code) { return row.keyCode < code; });
  if (it == kKeys.end() || it->keyCode != keyCode) return std::nullopt;
  return it->keysym;
}

std::optional<uint16_t> keyCodeForKeysym(uint32_t keysym) {
  // Upper-case letters come back from X when Shift is held; the key is the same.
  if (keysym >= XK_A && keysym <= XK_Z) keysym += XK_a - XK_A;
  for (const KeyRow& row : kKeys) {
    if (row.keysym == keysym) return row.keyCode;
  }
  return std::nullopt;
}

std::span<const ModifierKey> modifierKeys() { return kModifiers; }

uint64_t modifierFlagsForKeys(std::span<const uint16_t> heldKeyCodes) {
  uint64_t flags = 0;
  for (uint16_t code : heldKeyCodes) {
    for (const ModifierKey& m : kModifiers) {
      if (code == m.leftKeyCode || code == m.rightKeyCode) flags |= m.flag;
    }
  }
  return flags;
}

uint32_t keysymForCodePoint(char32_t codePoint) {
  switch (codePoint) {
    case U'\t':
      return XK_Tab;
    case U'\n':
    case U'\r':
      return XK_Return;
    case U'\b':
      return XK_BackSpace;
    case 0x1B:
      return XK_Escape;
    case 0x7F:
      return XK_Delete;
    default:
      break;
  }
  if ((codePoint >= 0x20 && codePoint < 0x7F) || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    return static_cast<uint32_t>(codePoint);
  }
  return 0x1000000u + static_cast<uint32_t>(codePoint);
}

}  // namespace tavren::input
