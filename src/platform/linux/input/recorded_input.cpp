#include "platform/linux/input/recorded_input.h"

#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstring>

#include "platform/linux/input/key_table.h"

namespace tavren::input {
namespace {

constexpr uint16_t kCapsLockKeyCode = 0x39;
constexpr uint16_t kFunctionKeyCode = 0x3F;

// Shift, control, lock, meta, alt, super, hyper, the ISO level and group shifts, Num Lock and
// the mode switch: X's own modifier keys, whether or not the key table names them.
bool isModifierKeysym(uint32_t keysym) {
  return (keysym >= XK_Shift_L && keysym <= XK_Hyper_R) ||
         (keysym >= XK_ISO_Lock && keysym <= XK_ISO_Level5_Lock) || keysym == XK_Mode_switch ||
         keysym == XK_Num_Lock;
}

}  // namespace

uint64_t HeldModifiers::flags() const { return modifierFlagsForKeys(keyCodes); }

void HeldModifiers::press(uint16_t keyCode) {
  if (std::find(keyCodes.begin(), keyCodes.end(), keyCode) == keyCodes.end()) {
    keyCodes.push_back(keyCode);
  }
}

void HeldModifiers::release(uint16_t keyCode) {
  keyCodes.erase(std::remove(keyCodes.begin(), keyCodes.end(), keyCode), keyCodes.end());
}

uint32_t keysymOf(const Keymap& map, uint8_t keycode) {
  if (map.perKeycode == 0 || keycode < map.minKeycode ||
      keycode - map.minKeycode >= map.keycodeCount()) {
    return 0;
  }
  for (int column = 0; column < std::min<int>(2, map.perKeycode); ++column) {
    if (const uint32_t keysym = map.at(keycode, column)) return keysym;
  }
  return 0;
}

uint16_t virtualKeyCode(const Keymap& map, uint8_t keycode) {
  const uint32_t keysym = keysymOf(map, keycode);
  return keysym ? keyCodeForKeysym(keysym).value_or(kNoKeyCode) : kNoKeyCode;
}

bool isModifierKeyCode(uint16_t keyCode) {
  if (keyCode == kCapsLockKeyCode || keyCode == kFunctionKeyCode) return true;
  for (const ModifierKey& m : modifierKeys()) {
    if (keyCode == m.leftKeyCode || keyCode == m.rightKeyCode) return true;
  }
  return false;
}

std::optional<ObservedInput> decodeRecordedEvent(std::span<const uint8_t, 32> event,
                                                 const Keymap& map, HeldModifiers& held) {
  // Key and button events share one layout.
  xcb_key_press_event_t e;
  std::memcpy(&e, event.data(), sizeof e);
  const uint8_t type = e.response_type & 0x7f;
  ObservedInput input;
  input.location = Point{static_cast<double>(e.root_x), static_cast<double>(e.root_y)};
  switch (type) {
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE: {
      const uint16_t code = virtualKeyCode(map, e.detail);
      if (isModifierKeyCode(code) || isModifierKeysym(keysymOf(map, e.detail))) {
        if (type == XCB_KEY_PRESS) {
          held.press(code);
        } else {
          held.release(code);
        }
        return std::nullopt;
      }
      if (type == XCB_KEY_RELEASE) return std::nullopt;
      input.key = KeyEvent{.keyCode = code, .down = true, .flags = held.flags(), .text = {}};
      return input;
    }
    case XCB_BUTTON_PRESS: {
      const uint8_t button = e.detail;
      if (button >= 4 && button <= 7) {
        ScrollEvent scroll{.location = input.location, .flags = held.flags()};
        // Buttons 4 and 5 turn the wheel up and down, 6 and 7 tilt it left and right.
        scroll.lines[button <= 5 ? 0 : 1] = (button == 4 || button == 6) ? 1 : -1;
        input.scroll = scroll;
        return input;
      }
      if (button == 0) return std::nullopt;
      // X numbers left, middle, right, then the others after the wheel.
      const int ours = button == 1 ? 0 : button == 2 ? 2 : button == 3 ? 1 : button - 5;
      input.pointer = PointerEvent{.action = PointerAction::Down,
                                   .button = ours,
                                   .location = input.location,
                                   .flags = held.flags()};
      return input;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace tavren::input
