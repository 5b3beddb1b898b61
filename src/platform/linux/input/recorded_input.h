#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/input_monitor.h"
#include "platform/linux/input/typing_plan.h"

namespace tavren::input {

// The modifier keys held down, by virtual key code, as recorded presses and releases tell.
struct HeldModifiers {
  std::vector<uint16_t> keyCodes;
  uint64_t flags() const;
  void press(uint16_t keyCode);
  void release(uint16_t keyCode);
};

// The first symbol of an X keycode under `map`: unshifted, else shifted; 0 when it has none.
uint32_t keysymOf(const Keymap& map, uint8_t keycode);

// The virtual key code of an X keycode under `map`: the key table's code for its unshifted
// symbol; kNoKeyCode when the key has none.
uint16_t virtualKeyCode(const Keymap& map, uint8_t keycode);

// Whether a virtual key code is a modifier or lock key: pressing one alone is no input of its
// own, only a change of the modifiers.
bool isModifierKeyCode(uint16_t keyCode);

// One recorded core device event (32 bytes) as observed input, following `held` through key
// presses and releases. None for a release, a modifier key, or an event that is no input.
std::optional<ObservedInput> decodeRecordedEvent(std::span<const uint8_t, 32> event,
                                                 const Keymap& map, HeldModifiers& held);

}  // namespace tavren::input
