#include "input/remote_desktop_input.h"

#include <unicode/unistr.h>

#include <array>
#include <cmath>
#include <vector>

#include "core/params.h"
#include "platform/linux/input/key_table.h"

namespace tavren {
namespace {

constexpr int kMaxTextUnits = 4096;  // UTF-16 code units
constexpr double kClickSlopSquared = 16;  // presses within 4 points continue a click sequence

// Message buttons (0 primary, 1 middle, 2 secondary) to the poster's (0 left, 1 right, 2 middle).
constexpr std::array<int, 3> kPlatformButton = {0, 2, 1};

ServiceError noPermission() {
  return computerUseError(40, "Remote desktop requires Accessibility permission");
}
ServiceError notPosted() { return computerUseError(41, ""); }
ServiceError malformed() { return computerUseError(42, ""); }

Json posted() { return Json{{"posted", true}}; }

uint64_t heldFlags(const RemoteInputState& state) {
  std::vector<uint16_t> keys(state.keys.begin(), state.keys.end());
  return input::modifierFlagsForKeys(keys);
}

double squaredDistance(double ax, double ay, double bx, double by) {
  return (ax - bx) * (ax - bx) + (ay - by) * (ay - by);
}

Outcome keyMessage(const Json& params, RemoteInputState& state, EventPoster& poster) {
  auto keyCode = truncatedInteger<uint16_t>(number(params, "keyCode"));
  if (!keyCode) return malformed();
  auto downMember = params.find("down");
  const bool down = downMember != params.end() && downMember->is_boolean() && downMember->get<bool>();
  if (down) {
    state.keys.insert(*keyCode);
  } else {
    state.keys.erase(*keyCode);
  }
  KeyEvent e{.keyCode = *keyCode, .down = down, .flags = heldFlags(state), .text = {}};
  if (!poster.postGlobal(e)) return notPosted();
  return posted();
}

Outcome textMessage(const Json& params, EventPoster& poster) {
  std::string text = stringParam(params, "text").value_or("");
  if (icu::UnicodeString::fromUTF8(text).length() > kMaxTextUnits) return malformed();
  if (text.empty()) return posted();
  KeyEvent e{.keyCode = 0, .down = true, .flags = 0, .text = std::move(text)};
  if (!poster.postGlobal(e)) return notPosted();
  return posted();
}

Outcome wheelMessage(const Json& params, RemoteInputState& state, EventPoster& poster) {
  auto dy = truncatedInteger<int32_t>(number(params, "dy"));
  auto dx = truncatedInteger<int32_t>(number(params, "dx"));
  if (!dy || !dx) return malformed();
  ScrollEvent e;
  e.location = poster.pointerLocation().value_or(Point{});
  e.lines[0] = *dy;
  e.lines[1] = *dx;
  e.unit = ScrollUnit::Pixel;
  e.flags = heldFlags(state);
  if (!poster.postGlobal(e)) return notPosted();
  return posted();
}

Outcome pointerMessage(const Json& params, RemoteInputState& state, EventPoster& poster) {
  const std::string phase = stringParam(params, "phase").value_or("");
  auto button64 = truncatedInteger<int64_t>(number(params, "button"));
  if ((phase != "down" && phase != "up" && phase != "move") || !button64 || *button64 < 0 ||
      *button64 > 2) {
    return malformed();
  }
  const int button = static_cast<int>(*button64);
  const double x = number(params, "x");
  const double y = number(params, "y");
  if (!std::isfinite(x) || !std::isfinite(y)) return malformed();

  PointerEvent e;
  e.location = Point{x, y};
  if (phase == "down") {
    e.action = PointerAction::Down;
    e.button = kPlatformButton[button];
    state.buttons.insert(button);
    const auto now = RemoteClock::now();
    const int count = clickNumber(state.clicks, button, x, y, now, poster.doubleClickInterval());
    state.clicks = RemoteClickSequence{.button = button, .count = count, .x = x, .y = y, .at = now};
    state.pressedClickCounts[button] = count;
  } else if (phase == "up") {
    e.action = PointerAction::Up;
    e.button = kPlatformButton[button];
  } else {
    // A drag belongs to the held button, the primary one first, then the secondary.
    int held = -1;
    for (int b : {0, 2, 1}) {
      if (state.buttons.count(b)) {
        held = b;
        break;
      }
    }
    e.action = held >= 0 ? PointerAction::Drag : PointerAction::Move;
    e.button = kPlatformButton[held >= 0 ? held : button];
    if (squaredDistance(x, y, state.clicks.x, state.clicks.y) > kClickSlopSquared) {
      state.clicks.count = 0;
    }
  }
  if (e.action == PointerAction::Down || e.action == PointerAction::Up) {
    auto it = state.pressedClickCounts.find(button);
    e.clickCount = it != state.pressedClickCounts.end() ? it->second : 1;
  }
  e.flags = heldFlags(state);
  const bool ok = poster.postGlobal(e);
  if (phase == "up") {
    state.buttons.erase(button);
    state.pressedClickCounts.erase(button);
  }
  if (!ok) return notPosted();
  return posted();
}

}  // namespace

int clickNumber(const RemoteClickSequence& last, int button, double x, double y,
                RemoteClock::time_point now, std::chrono::milliseconds interval) {
  const bool continues = last.button == button && now >= last.at && now - last.at <= interval &&
                         squaredDistance(x, y, last.x, last.y) <= kClickSlopSquared;
  return continues && (last.count == 1 || last.count == 2) ? last.count + 1 : 1;
}

Outcome remoteDesktopInput(const Json& params, RemoteInputState& state, EventPoster& poster,
                           bool canPost) {
  std::lock_guard lock(state.lock);
  const std::string type = stringParam(params, "type").value_or("");
  if (type == "release") {
    releaseRemoteInputLocked(state, poster);
    return posted();
  }
  if (type == "heartbeat") {
    state.at = RemoteClock::now();
    return posted();
  }
  if (!canPost) return noPermission();
  state.at = RemoteClock::now();
  if (type == "key") return keyMessage(params, state, poster);
  if (type == "text") return textMessage(params, poster);
  if (type == "wheel") return wheelMessage(params, state, poster);
  if (type == "pointer") return pointerMessage(params, state, poster);
  return computerUseError(42, "Invalid remote desktop input");
}

void releaseRemoteInputLocked(RemoteInputState& state, EventPoster& poster) {
  if (!state.buttons.empty()) {
    const Point at = poster.pointerLocation().value_or(Point{});
    for (int button : state.buttons) {
      poster.postGlobal(PointerEvent{.action = PointerAction::Up,
                                     .button = kPlatformButton[button],
                                     .clickCount = 1,
                                     .location = at});
    }
  }
  for (uint16_t key : state.keys) poster.postGlobal(KeyEvent{.keyCode = key, .down = false, .flags = 0, .text = {}});
  state.keys.clear();
  state.buttons.clear();
  state.pressedClickCounts.clear();
  state.clicks = RemoteClickSequence{};
}

void releaseHeldRemoteInput(RemoteInputState& state, EventPoster& poster) {
  std::lock_guard lock(state.lock);
  releaseRemoteInputLocked(state, poster);
}

void remoteInputWatchdogTick(RemoteInputState& state, EventPoster& poster,
                             RemoteClock::time_point now) {
  std::lock_guard lock(state.lock);
  if (remoteInputExpired(state, now)) releaseRemoteInputLocked(state, poster);
}

}  // namespace tavren
