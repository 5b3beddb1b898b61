#include "platform/linux/input/typing_plan.h"

#include <X11/keysym.h>

#include <algorithm>
#include <map>

#include "platform/linux/input/key_table.h"

namespace tavren::input {

Keymap keymapOf(const x11::XLink& link) {
  const xcb_setup_t* setup = xcb_get_setup(link.get());
  Keymap map;
  map.minKeycode = setup->min_keycode;
  const int count = setup->max_keycode - setup->min_keycode + 1;
  auto reply = link.reply(xcb_get_keyboard_mapping_reply,
                          xcb_get_keyboard_mapping(link.get(), setup->min_keycode,
                                                   static_cast<uint8_t>(count)));
  if (reply) {
    map.perKeycode = reply->keysyms_per_keycode;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply.get());
    map.keysyms.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(reply.get()));
  }
  return map;
}

std::optional<KeyStroke> strokeForKeysym(const Keymap& map, uint32_t keysym) {
  if (keysym == 0) return std::nullopt;
  for (int column = 0; column < std::min<int>(2, map.perKeycode); ++column) {
    for (int i = 0; i < map.keycodeCount(); ++i) {
      const int keycode = map.minKeycode + i;
      if (map.at(keycode, column) == keysym) {
        return KeyStroke{static_cast<uint8_t>(keycode), column == 1};
      }
    }
  }
  return std::nullopt;
}

std::vector<uint8_t> spareKeycodes(const Keymap& map) {
  std::vector<uint8_t> spare;
  for (int i = 0; i < map.keycodeCount(); ++i) {
    const int keycode = map.minKeycode + i;
    bool empty = true;
    for (int c = 0; c < map.perKeycode && empty; ++c) empty = map.at(keycode, c) == 0;
    if (empty) spare.push_back(static_cast<uint8_t>(keycode));
  }
  return spare;
}

std::vector<TypingBatch> planTyping(const Keymap& map, std::u32string_view text) {
  const std::vector<uint8_t> spare = spareKeycodes(map);
  const size_t columns = strokeForKeysym(map, XK_Shift_L) ? 2 : 1;
  const size_t capacity = spare.size() * columns;
  std::map<uint32_t, std::optional<KeyStroke>> own;  // keysym -> its key in the keymap, if any
  std::vector<TypingBatch> batches(1);
  std::map<uint32_t, KeyStroke> bound;  // keysym -> its spare key, in the current batch
  for (char32_t c : text) {
    const uint32_t keysym = keysymForCodePoint(c);
    auto found = own.find(keysym);
    if (found == own.end()) found = own.emplace(keysym, strokeForKeysym(map, keysym)).first;
    if (found->second) {
      batches.back().strokes.push_back(*found->second);
      continue;
    }
    auto b = bound.find(keysym);
    if (b == bound.end()) {
      if (capacity == 0) return {};
      if (bound.size() == capacity) {
        batches.emplace_back();
        bound.clear();
      }
      const size_t slot = bound.size();
      const KeyStroke stroke{spare[slot / columns], slot % columns == 1};
      b = bound.emplace(keysym, stroke).first;
      auto& bindings = batches.back().bindings;
      if (stroke.shift) {
        bindings.back().shifted = keysym;
      } else {
        bindings.push_back({stroke.keycode, keysym});
      }
    }
    batches.back().strokes.push_back(b->second);
  }
  return batches;
}

std::vector<KeycodeRun> keycodeRuns(std::vector<uint8_t> keycodes) {
  std::sort(keycodes.begin(), keycodes.end());
  keycodes.erase(std::unique(keycodes.begin(), keycodes.end()), keycodes.end());
  std::vector<KeycodeRun> runs;
  for (uint8_t keycode : keycodes) {
    if (!runs.empty() && runs.back().first + runs.back().count == keycode) {
      ++runs.back().count;
    } else {
      runs.push_back({keycode, 1});
    }
  }
  return runs;
}

}  // namespace tavren::input
