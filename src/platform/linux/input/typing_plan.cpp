#include "platform/linux/input/typing_plan.h"

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
  std::map<uint32_t, std::optional<KeyStroke>> own;  // keysym -> its key in the keymap, if any
  std::vector<TypingBatch> batches(1);
  std::map<uint32_t, uint8_t> bound;  // keysym -> spare keycode, in the current batch
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
      if (spare.empty()) return {};
      if (bound.size() == spare.size()) {
        batches.emplace_back();
        bound.clear();
      }
      const uint8_t keycode = spare[bound.size()];
      b = bound.emplace(keysym, keycode).first;
      batches.back().bindings.push_back({keycode, keysym});
    }
    batches.back().strokes.push_back(KeyStroke{b->second, false});
  }
  return batches;
}

}  // namespace tavren::input
