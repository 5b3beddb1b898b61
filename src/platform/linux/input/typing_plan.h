#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/linux/x11/x_link.h"

namespace tavren::input {

// The server's core keyboard mapping: `perKeycode` keysyms for each keycode from `minKeycode`.
struct Keymap {
  uint8_t minKeycode = 8;
  uint8_t perKeycode = 0;
  std::vector<uint32_t> keysyms;

  int keycodeCount() const { return perKeycode ? int(keysyms.size() / perKeycode) : 0; }
  uint32_t at(int keycode, int column) const {
    return keysyms[size_t(keycode - minKeycode) * perKeycode + size_t(column)];
  }
};

// The server's mapping now, read on `link`; empty (perKeycode 0) when the server did not answer.
Keymap keymapOf(const x11::XLink& link);

// A key that types a keysym: the keycode, and whether Shift must be held for it.
struct KeyStroke {
  uint8_t keycode = 0;
  bool shift = false;
};

// The keycode whose unshifted (else shifted) symbol is `keysym`; none when the keymap lacks it.
std::optional<KeyStroke> strokeForKeysym(const Keymap& map, uint32_t keysym);

// Keycodes that carry no symbol at all: free to bind for a moment while typing.
std::vector<uint8_t> spareKeycodes(const Keymap& map);

// One round of typing: bind `bindings` to spare keycodes, then press `strokes` in order.
struct TypingBatch {
  // A spare keycode carries two characters, the second typed with Shift (none: 0).
  struct Binding {
    uint8_t keycode;
    uint32_t keysym;
    uint32_t shifted = 0;
  };
  std::vector<Binding> bindings;
  std::vector<KeyStroke> strokes;
};

// Splits a text into batches. Characters the keymap has are typed by their own key; the others
// are bound to spare keycodes, two per keycode (the second on the shifted column, when the
// keymap has a Shift key), as many distinct ones per batch as the spare keycodes hold, and a
// spare keycode is reused only in a later batch. Every binding changes the keymap, which every
// client reloads (window managers reopen their input method), so the fewer the better. Empty
// when the text has a character that cannot be typed at all (no spare keycode).
std::vector<TypingBatch> planTyping(const Keymap& map, std::u32string_view text);

// Consecutive keycodes, changed with one request: every change makes every client read the
// keymap again.
struct KeycodeRun {
  uint8_t first = 0;
  uint8_t count = 0;
};

// `keycodes` (any order, repeats allowed) as runs of consecutive keycodes, ascending. A run only
// ever covers keycodes of the list, so rewriting it leaves every other key as it was.
std::vector<KeycodeRun> keycodeRuns(std::vector<uint8_t> keycodes);

}  // namespace tavren::input
