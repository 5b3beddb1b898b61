#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace tavren::input {

// The protocol names keys by the virtual key codes of the Apple keyboard layout (0 is "A",
// 36 Return, 56 Shift, ...) and modifiers by event-flag masks. X names keys by keysyms; the
// keycode that produces a keysym is the server's keymap's business and is looked up at posting.

// The keysym a virtual key code stands for; none for codes no key has.
std::optional<uint32_t> keysymForKeyCode(uint16_t keyCode);

// The virtual key code of a keysym, for input read back from X (recording); none when no key of
// the table has it. Letters and other case pairs are found by either case.
std::optional<uint16_t> keyCodeForKeysym(uint32_t keysym);

// The protocol's modifier flag masks.
inline constexpr uint64_t kFlagShift = 0x20000;
inline constexpr uint64_t kFlagControl = 0x40000;
inline constexpr uint64_t kFlagOption = 0x80000;
inline constexpr uint64_t kFlagCommand = 0x100000;

// One modifier flag: the key that holds it down on X (left-hand key), and the virtual key codes
// of the keys that set it.
struct ModifierKey {
  uint64_t flag;
  uint32_t keysym;
  uint16_t leftKeyCode;
  uint16_t rightKeyCode;
};

// Shift, control, option (Alt) and command (Super), in that order.
std::span<const ModifierKey> modifierKeys();

// The modifier flags held by a set of pressed virtual key codes.
uint64_t modifierFlagsForKeys(std::span<const uint16_t> heldKeyCodes);

// The keysym that types one Unicode scalar: its Latin-1 keysym below U+0100 (where keysym and
// code point agree), a named keysym for the control characters a keyboard has (tab, return,
// backspace, escape, delete), else the Unicode keysym 0x1000000 + code point.
uint32_t keysymForCodePoint(char32_t codePoint);

}  // namespace tavren::input
