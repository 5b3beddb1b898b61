#include "platform/linux/input/window_events.h"

#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "platform/linux/input/key_table.h"
#include "platform/linux/input/typing_plan.h"
#include "platform/linux/x11/x_reply.h"

namespace tavren::input {
namespace {

// Event coordinates are 16-bit: a point far outside the window is clamped, which keeps it
// outside.
int16_t coordinate(double v) {
  if (!std::isfinite(v)) return 0;
  return static_cast<int16_t>(std::clamp(std::round(v), -32768.0, 32767.0));
}

struct Position {
  int16_t rootX, rootY, eventX, eventY;
};

Position positionOf(const EventWindow& window, Point global) {
  return {coordinate(global.x), coordinate(global.y), coordinate(global.x - window.origin.x),
          coordinate(global.y - window.origin.y)};
}

// X buttons of the protocol's 0 left, 1 right, 2 middle.
uint8_t xButton(int button) { return button == 1 ? 3 : button == 2 ? 2 : 1; }
// The state bit of a held button. Buttons past 5 have none (the bits above are the keyboard
// group's).
uint16_t buttonMask(uint8_t xbutton) {
  return xbutton >= 1 && xbutton <= 5 ? static_cast<uint16_t>(XCB_BUTTON_MASK_1 << (xbutton - 1))
                                      : 0;
}

// Sends events to one window's creator and waits for the server's verdict on each (one round
// trip for the batch).
class Batch {
 public:
  Batch(const x11::XConnection& x, xcb_window_t window) : x_(x), window_(window) {}

  template <class Event>
  void add(const Event& e) {
    static_assert(sizeof(Event) <= 32, "core events fit 32 bytes");
    char wire[32] = {};
    std::memcpy(wire, &e, sizeof e);
    cookies_.push_back(
        xcb_send_event_checked(x_.get(), 0, window_, XCB_EVENT_MASK_NO_EVENT, wire));
  }

  bool accepted() {
    bool ok = true;
    // One round trip answers for all: the checks after the first find their verdicts in.
    for (xcb_void_cookie_t c : cookies_) ok = x_.check(c).succeeded() && ok;
    cookies_.clear();
    return ok && x_.alive();
  }

 private:
  const x11::XConnection& x_;
  xcb_window_t window_;
  std::vector<xcb_void_cookie_t> cookies_;
};

xcb_enter_notify_event_t crossing(const x11::XConnection& x, xcb_window_t window, Position p,
                                  uint16_t state, uint32_t time) {
  xcb_enter_notify_event_t e{};
  e.response_type = XCB_ENTER_NOTIFY;
  e.detail = XCB_NOTIFY_DETAIL_NONLINEAR;
  e.time = time;
  e.root = x.root();
  e.event = window;
  e.child = XCB_WINDOW_NONE;
  e.root_x = p.rootX;
  e.root_y = p.rootY;
  e.event_x = p.eventX;
  e.event_y = p.eventY;
  e.state = state;
  e.mode = XCB_NOTIFY_MODE_NORMAL;
  e.same_screen_focus = 0x02;  // same screen; the window does not hold the focus
  return e;
}

xcb_motion_notify_event_t motion(const x11::XConnection& x, xcb_window_t window, Position p,
                                 uint16_t state, uint32_t time) {
  xcb_motion_notify_event_t e{};
  e.response_type = XCB_MOTION_NOTIFY;
  e.detail = XCB_MOTION_NORMAL;
  e.time = time;
  e.root = x.root();
  e.event = window;
  e.child = XCB_WINDOW_NONE;
  e.root_x = p.rootX;
  e.root_y = p.rootY;
  e.event_x = p.eventX;
  e.event_y = p.eventY;
  e.state = state;
  e.same_screen = 1;
  return e;
}

xcb_button_press_event_t button(const x11::XConnection& x, xcb_window_t window, Position p,
                                bool press, uint8_t xbutton, uint16_t state, uint32_t time) {
  xcb_button_press_event_t e{};
  e.response_type = press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE;
  e.detail = xbutton;
  e.time = time;
  e.root = x.root();
  e.event = window;
  e.child = XCB_WINDOW_NONE;
  e.root_x = p.rootX;
  e.root_y = p.rootY;
  e.event_x = p.eventX;
  e.event_y = p.eventY;
  e.state = state;
  e.same_screen = 1;
  return e;
}

xcb_focus_in_event_t focus(xcb_window_t window, bool in) {
  xcb_focus_in_event_t e{};
  e.response_type = in ? XCB_FOCUS_IN : XCB_FOCUS_OUT;
  e.detail = XCB_NOTIFY_DETAIL_NONLINEAR;
  e.event = window;
  e.mode = XCB_NOTIFY_MODE_NORMAL;
  return e;
}

// Whether the window holds the real keyboard focus (then it needs none lent).
bool holdsInputFocus(const x11::XConnection& x, xcb_window_t window) {
  auto reply = x.reply(xcb_get_input_focus_reply, xcb_get_input_focus(x.get()));
  return reply && reply->focus == window;
}

// The first key of the keyboard that carries the keysym.
std::optional<xcb_keycode_t> keycodeOf(const Keymap& map, uint32_t keysym) {
  auto stroke = strokeForKeysym(map, keysym);
  if (!stroke) return std::nullopt;
  return stroke->keycode;
}

// The state bits of the modifier flags. Shift and Control have fixed bits; Alt and Super live on
// whichever ModN the keyboard's modifier map puts their keys.
uint16_t modifierState(const x11::XConnection& x, const Keymap& keymap, uint64_t flags) {
  uint16_t state = 0;
  if (flags & kFlagShift) state |= XCB_MOD_MASK_SHIFT;
  if (flags & kFlagControl) state |= XCB_MOD_MASK_CONTROL;
  const uint64_t mapped = flags & (kFlagOption | kFlagCommand);
  if (mapped == 0) return state;
  auto map = x.reply(xcb_get_modifier_mapping_reply, xcb_get_modifier_mapping(x.get()));
  for (const ModifierKey& m : modifierKeys()) {
    if (!(mapped & m.flag)) continue;
    const auto code = keycodeOf(keymap, m.keysym);
    bool found = false;
    if (map && code) {
      const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(map.get());
      const int perModifier = map->keycodes_per_modifier;
      for (int mod = 0; mod < 8 && !found; ++mod) {
        for (int k = 0; k < perModifier; ++k) {
          if (codes[mod * perModifier + k] == *code) {
            state |= static_cast<uint16_t>(1u << mod);
            found = true;
            break;
          }
        }
      }
    }
    // Usual layouts: Alt on Mod1, Super on Mod4.
    if (!found) state |= m.flag == kFlagOption ? XCB_MOD_MASK_1 : XCB_MOD_MASK_4;
  }
  return state;
}

uint16_t pointerModifiers(const x11::XConnection& x, uint64_t flags) {
  if (flags == 0) return 0;
  return modifierState(x, keymapOf(x.link()), flags);
}

}  // namespace

bool sendPointerToWindow(const x11::XConnection& x, const EventWindow& window,
                         const PointerEvent& e, uint32_t time) {
  if (!x.alive() || window.id == 0) return false;
  const Position p = positionOf(window, e.location);
  const uint16_t modifiers = pointerModifiers(x, e.flags);
  const uint8_t xbutton = xButton(e.button);
  Batch batch(x, window.id);
  switch (e.action) {
    case PointerAction::Move:
      batch.add(crossing(x, window.id, p, modifiers, time));
      batch.add(motion(x, window.id, p, modifiers, time));
      // Qt asks the window manager to activate (raise and focus) a window pressed while it is
      // not its focus window; lent focus, ahead of the press, it does not.
      if (e.pressFollows && !holdsInputFocus(x, window.id)) batch.add(focus(window.id, true));
      break;
    case PointerAction::Down:
      batch.add(button(x, window.id, p, true, xbutton, modifiers, time));
      break;
    case PointerAction::Up:
      batch.add(button(x, window.id, p, false, xbutton, modifiers | buttonMask(xbutton), time));
      // The lent focus goes back, so the toolkit does not go on believing it has it.
      if (!holdsInputFocus(x, window.id)) batch.add(focus(window.id, false));
      break;
    case PointerAction::Drag:
      batch.add(motion(x, window.id, p, modifiers | buttonMask(xbutton), time));
      break;
  }
  return batch.accepted();
}

bool returnLentFocus(const x11::XConnection& x, const EventWindow& window) {
  if (!x.alive() || window.id == 0 || holdsInputFocus(x, window.id)) return x.alive();
  Batch batch(x, window.id);
  batch.add(focus(window.id, false));
  return batch.accepted();
}

bool sendKeyToWindow(const x11::XConnection& x, const EventWindow& window, const KeyEvent& e,
                     uint32_t time) {
  if (!x.alive() || window.id == 0) return false;
  const std::optional<uint32_t> keysym = keysymForKeyCode(e.keyCode);
  if (!keysym) return false;
  const Keymap keymap = keymapOf(x.link());
  const std::optional<xcb_keycode_t> keycode = keycodeOf(keymap, *keysym);
  if (!keycode) return false;
  xcb_key_press_event_t k{};
  k.response_type = e.down ? XCB_KEY_PRESS : XCB_KEY_RELEASE;
  k.detail = *keycode;
  k.time = time;
  k.root = x.root();
  k.event = window.id;
  k.child = XCB_WINDOW_NONE;
  k.state = modifierState(x, keymap, e.flags);
  k.same_screen = 1;
  Batch batch(x, window.id);
  batch.add(k);
  return batch.accepted();
}

bool sendScrollToWindow(const x11::XConnection& x, const EventWindow& window,
                        const ScrollEvent& e, uint32_t time) {
  if (!x.alive() || window.id == 0) return false;
  const Position p = positionOf(window, e.location);
  Batch batch(x, window.id);
  batch.add(crossing(x, window.id, p, 0, time));
  batch.add(motion(x, window.id, p, 0, time));
  // Positive amounts scroll toward the top and the left, as a wheel turned away from the user.
  const struct {
    int32_t lines;
    uint8_t positive, negative;
  } axes[] = {{e.lines[0], 4, 5}, {e.lines[1], 6, 7}};
  for (const auto& axis : axes) {
    if (axis.lines == 0) continue;
    const uint8_t b = axis.lines > 0 ? axis.positive : axis.negative;
    const int64_t clicks = std::min<int64_t>(std::abs(int64_t{axis.lines}), kMaxScrollClicks);
    for (int64_t i = 0; i < clicks; ++i) {
      batch.add(button(x, window.id, p, true, b, 0, time));
      batch.add(button(x, window.id, p, false, b, buttonMask(b), time));
    }
  }
  return batch.accepted();
}

uint32_t localServerTime() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint32_t>(static_cast<uint64_t>(t.tv_sec) * 1000u +
                               static_cast<uint64_t>(t.tv_nsec) / 1000000u);
}

uint32_t pointerStamp(uint32_t now, uint32_t last, uint32_t lastPress, uint32_t pressBefore,
                      bool firstClickPress, uint32_t doubleClickMs) {
  // Differences of 32-bit server times, wrap-around included.
  auto later = [](uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) > 0 ? a : b; };
  uint32_t stamp = last == 0 ? now : later(now, last);
  if (firstClickPress && lastPress != 0) stamp = later(stamp, lastPress + doubleClickMs + 1);
  if (firstClickPress && pressBefore != 0) stamp = later(stamp, pressBefore + 2 * doubleClickMs + 1);
  return stamp;
}

}  // namespace tavren::input
