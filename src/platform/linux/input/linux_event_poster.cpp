#include "platform/linux/input/linux_event_poster.h"

#include <X11/keysym.h>
#include <poll.h>
#include <unicode/unistr.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/linux/input/key_table.h"
#include "platform/linux/input/xsettings.h"
#include "platform/linux/x11/x_reply.h"

namespace tavren::input {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How long an application may go without reading any of the keys typed so far before the
// keymap changes under it anyway (a hung application must not hang the input stream).
constexpr auto kCatchUpLimit = 1s;
// For a focused window that does not answer pings: time for its client to read what was sent.
constexpr auto kCatchUpUnanswerable = 50ms;
// Keys typed between two pings while bindings are in place: the answers show the application
// still reading, which keeps the catch-up limit from running out on one that is merely slow.
constexpr size_t kStrokesPerPing = 64;
constexpr auto kStopCheck = 50ms;
constexpr auto kDefaultDoubleClick = 400ms;
constexpr auto kSettingsLifetime = 2s;  // the double-click time is read again after this

int16_t coordinate(double v) {
  return static_cast<int16_t>(std::clamp(std::round(v), -32768.0, 32767.0));
}

// The platform's buttons (0 left, 1 right, 2 middle) as X numbers them.
uint8_t xButton(int button) {
  switch (button) {
    case 1:
      return 3;
    case 2:
      return 2;
    default:
      return 1;
  }
}

std::u32string codePoints(const std::string& utf8) {
  icu::UnicodeString s = icu::UnicodeString::fromUTF8(utf8);
  std::u32string out(static_cast<size_t>(s.countChar32()), U'\0');
  UErrorCode status = U_ZERO_ERROR;
  s.toUTF32(reinterpret_cast<UChar32*>(out.data()), static_cast<int32_t>(out.size()), status);
  return out;
}

}  // namespace

int32_t wheelClicks(int32_t pixels, int32_t& remainder) {
  if ((pixels > 0 && remainder < 0) || (pixels < 0 && remainder > 0)) remainder = 0;
  const int64_t total = int64_t{remainder} + pixels;
  const int64_t clicks = total / kPixelsPerWheelClick;  // toward zero: the rest keeps its sign
  remainder = static_cast<int32_t>(total - clicks * kPixelsPerWheelClick);
  return static_cast<int32_t>(clicks);
}

LinuxEventPoster::LinuxEventPoster(const x11::XConnection* x, ScrollStandIn standIn)
    : x_(x), windows_(x), standIn_(std::move(standIn)) {}

void LinuxEventPoster::connect() {
  if (x_ == nullptr || x_->displayName().empty()) return;
  link_ = x11::XLink::connect(x_->displayName());
  if (!link_) return;
  c_ = link_->get();
  root_ = link_->root();
  // XCB waits for the extension query without a deadline: it is sent ahead and read with the
  // bounded round trip, so that XCB then finds its answer already in.
  xcb_prefetch_extension_data(c_, &xcb_test_id);
  if (link_->sync()) {
    const xcb_query_extension_reply_t* test = xcb_get_extension_data(c_, &xcb_test_id);
    xtest_ = test && test->present;
  }
  wmProtocols_ = link_->internAtom("WM_PROTOCOLS");
  netWmPing_ = link_->internAtom("_NET_WM_PING");
  settingsSelection_ = link_->internAtom("_XSETTINGS_S" + std::to_string(link_->screenNumber()));
  settingsProperty_ = link_->internAtom("_XSETTINGS_SETTINGS");
}

LinuxEventPoster::~LinuxEventPoster() = default;

bool LinuxEventPoster::connected() {
  if (!link_ && x_ && x_->alive()) connect();
  return link_ && link_->alive();
}

bool LinuxEventPoster::usable() { return connected() && xtest_; }

bool LinuxEventPoster::fake(uint8_t type, uint8_t detail, int16_t x, int16_t y) {
  xcb_test_fake_input(c_, type, detail, XCB_CURRENT_TIME, root_, x, y, 0);
  return true;
}

bool LinuxEventPoster::sync() { return link_->sync(); }

void LinuxEventPoster::takeEvents() {
  while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
    const uint8_t type = event->response_type & 0x7f;
    if (type == XCB_MAPPING_NOTIFY) keymap_.reset();
    if (type == XCB_CLIENT_MESSAGE) {
      auto* m = reinterpret_cast<xcb_client_message_event_t*>(event);
      const uint32_t serial = m->data.data32[1];
      // Serials wrap: the newer of two is the one ahead by less than half the range.
      if (m->type == wmProtocols_ && m->data.data32[0] == netWmPing_ &&
          static_cast<int32_t>(serial - pingsAnswered_) > 0 &&
          static_cast<int32_t>(pingSerial_ - serial) >= 0) {
        pingsAnswered_ = serial;
      }
    }
    std::free(event);
  }
}

const Keymap& LinuxEventPoster::keymap() {
  takeEvents();
  if (keymap_) return *keymap_;
  keymap_ = keymapOf(*link_);
  return *keymap_;
}

bool LinuxEventPoster::postToWindow(int32_t, const EventWindow& target, const PointerEvent& e) {
  return windows_.post(target, e, doubleClickInterval());
}
bool LinuxEventPoster::postToWindow(int32_t, const EventWindow& target, const KeyEvent& e) {
  return windows_.post(target, e, doubleClickInterval());
}
ScrollDelivery LinuxEventPoster::postToWindow(int32_t pid, const EventWindow& target,
                                              const ScrollEvent& e) {
  atspi::WheelStandIn standIn = atspi::WheelStandIn::NotNeeded;
  if (standIn_ && x_ && x_->alive() && x_->extensions().xinput21) {
    standIn = standIn_(pid, target.origin, e.location, {e.lines[0], e.lines[1]});
  }
  if (standIn == atspi::WheelStandIn::Scrolled) return ScrollDelivery::Accessibility;
  if (!windows_.post(target, e, doubleClickInterval())) return ScrollDelivery::Failed;
  return standIn == atspi::WheelStandIn::NotScrolled ? ScrollDelivery::Ignored
                                                     : ScrollDelivery::Wheel;
}

// Modifier flags are not applied to global events: the modifier keys they stand for were pressed
// through XTest as well, so the server's own state already carries them.
bool LinuxEventPoster::postGlobal(const PointerEvent& e) {
  std::lock_guard lock(mutex_);
  if (!usable()) return false;
  const int16_t x = coordinate(e.location.x);
  const int16_t y = coordinate(e.location.y);
  fake(XCB_MOTION_NOTIFY, 0, x, y);  // detail 0: absolute, on our root
  if (e.action == PointerAction::Down) fake(XCB_BUTTON_PRESS, xButton(e.button));
  if (e.action == PointerAction::Up) fake(XCB_BUTTON_RELEASE, xButton(e.button));
  if (e.action != PointerAction::Up) return sync();
  return releaseTakenIn(xButton(e.button));
}

// A window manager that binds a button for click-to-focus grabs it synchronously: the pointer
// freezes at the press until the manager has done its work and replays the press to the
// application. Keys are not frozen, so text typed right after a click would reach the
// application before the click that was to place its cursor. Until the release has been taken
// in, the server's pointer state still shows the button down; the release answers only after.
// Nothing announces the thaw, so the state is read again until then, within the catch-up limit.
bool LinuxEventPoster::releaseTakenIn(uint8_t button) {
  const uint16_t mask = static_cast<uint16_t>(XCB_BUTTON_MASK_1 << (button - 1));
  const auto deadline = Clock::now() + kCatchUpLimit;
  for (int reads = 0;; ++reads) {
    auto pointer = link_->reply(xcb_query_pointer_reply, xcb_query_pointer(c_, root_));
    if (!pointer) return false;
    if (!(pointer->mask & mask) || Clock::now() > deadline) return true;
    if (reads > 0) std::this_thread::sleep_for(1ms);
  }
}

bool LinuxEventPoster::postGlobal(const KeyEvent& e) {
  std::lock_guard lock(mutex_);
  if (!usable()) return false;
  if (!e.text.empty()) return typeText(codePoints(e.text));
  auto keysym = keysymForKeyCode(e.keyCode);
  if (!keysym) return false;
  auto stroke = strokeForKeysym(keymap(), *keysym);
  if (!stroke) return false;
  fake(e.down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, stroke->keycode);
  return sync();
}

bool LinuxEventPoster::postGlobal(const ScrollEvent& e) {
  std::lock_guard lock(mutex_);
  if (!usable()) return false;
  // X wheels are buttons: 4 up, 5 down, 6 left, 7 right, one press and release per click.
  constexpr uint8_t kTowards[2][2] = {{4, 5}, {6, 7}};
  for (int axis = 0; axis < 2; ++axis) {
    int32_t clicks = e.unit == ScrollUnit::Pixel ? wheelClicks(e.lines[axis], wheelRemainder_[axis])
                                                 : e.lines[axis];
    const uint8_t button = kTowards[axis][clicks > 0 ? 0 : 1];
    for (int64_t n = std::abs(int64_t{clicks}); n > 0; --n) {
      fake(XCB_BUTTON_PRESS, button);
      fake(XCB_BUTTON_RELEASE, button);
    }
  }
  return sync();
}

std::optional<Point> LinuxEventPoster::pointerLocation() {
  std::lock_guard lock(mutex_);
  if (!connected()) return std::nullopt;
  auto reply = link_->reply(xcb_query_pointer_reply, xcb_query_pointer(c_, root_));
  if (!reply) return std::nullopt;
  return Point{double(reply->root_x), double(reply->root_y)};
}

std::chrono::milliseconds LinuxEventPoster::doubleClickInterval() {
  std::lock_guard lock(mutex_);
  const auto now = Clock::now();
  if (doubleClick_ && now - doubleClickReadAt_ < kSettingsLifetime) return *doubleClick_;
  std::chrono::milliseconds interval = kDefaultDoubleClick;
  if (connected() && settingsSelection_ != XCB_ATOM_NONE) {
    auto owner = link_->reply(xcb_get_selection_owner_reply,
                              xcb_get_selection_owner(c_, settingsSelection_));
    if (owner && owner->owner != XCB_WINDOW_NONE) {
      auto settings = link_->reply(
          xcb_get_property_reply, xcb_get_property(c_, 0, owner->owner, settingsProperty_,
                                                   XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 16));
      if (settings && settings->format == 8) {
        std::string_view data(static_cast<const char*>(xcb_get_property_value(settings.get())),
                              static_cast<size_t>(xcb_get_property_value_length(settings.get())));
        if (auto ms = xsettingsInteger(data, "Net/DoubleClickTime"); ms && *ms > 0) {
          interval = std::chrono::milliseconds(*ms);
        }
      }
    }
  }
  doubleClick_ = interval;
  doubleClickReadAt_ = now;
  return interval;
}

bool LinuxEventPoster::press(const KeyStroke& stroke, uint8_t shiftKeycode) {
  const bool shift = stroke.shift && shiftKeycode != 0;
  if (shift) fake(XCB_KEY_PRESS, shiftKeycode);
  fake(XCB_KEY_PRESS, stroke.keycode);
  fake(XCB_KEY_RELEASE, stroke.keycode);
  if (shift) fake(XCB_KEY_RELEASE, shiftKeycode);
  return true;
}

// One request per run of consecutive keycodes, each run covering bound keycodes only: a wider
// range would rewrite the keys between, whose groups and actions the server would derive afresh
// from what the core protocol can say of them.
void LinuxEventPoster::bind(std::vector<TypingBatch::Binding> bindings) {
  std::sort(bindings.begin(), bindings.end(),
            [](const auto& a, const auto& b) { return a.keycode < b.keycode; });
  std::vector<uint8_t> keycodes;
  for (const auto& b : bindings) keycodes.push_back(b.keycode);
  size_t next = 0;
  std::vector<xcb_keysym_t> syms;
  for (const KeycodeRun& run : keycodeRuns(std::move(keycodes))) {
    syms.clear();
    for (; next < bindings.size() && bindings[next].keycode < run.first + run.count; ++next) {
      const auto& b = bindings[next];
      syms.push_back(b.keysym);
      syms.push_back(b.shifted ? b.shifted : b.keysym);
    }
    xcb_change_keyboard_mapping(c_, run.count, run.first, 2, syms.data());
  }
}

void LinuxEventPoster::restore(const Keymap& original, std::vector<uint8_t> keycodes) {
  for (const KeycodeRun& run : keycodeRuns(std::move(keycodes))) {
    const size_t at = size_t(run.first - original.minKeycode) * original.perKeycode;
    xcb_change_keyboard_mapping(c_, run.count, run.first, original.perKeycode,
                                &original.keysyms[at]);
  }
}

// Characters the keymap lacks are typed on spare keycodes bound to them for the moment. An
// application turns a key event into a character with the keymap it reads when it handles the
// event, or even when it reads the change notice off its connection, which may be long before it
// handles the keys sent ahead of that notice; changing a binding before then makes it type the
// wrong character or none. So before any binding changes again (for the next batch, or back to
// the keymap as found), the focused application must have handled every key sent so far: it
// answers a _NET_WM_PING only after the events queued before it. Pings sent along the way tell
// an application that is slow but busy from one that has stopped.
bool LinuxEventPoster::typeText(std::u32string_view text) {
  const Keymap original = keymap();
  if (original.perKeycode == 0) return false;
  const std::vector<TypingBatch> batches = planTyping(original, text);
  if (batches.empty()) return false;
  const uint8_t shiftKeycode = strokeForKeysym(original, XK_Shift_L).value_or(KeyStroke{}).keycode;
  const bool binds = std::any_of(batches.begin(), batches.end(),
                                 [](const TypingBatch& b) { return !b.bindings.empty(); });
  if (binds) listenForPingAnswers(true);
  std::vector<uint8_t> touched;
  xcb_window_t target = XCB_WINDOW_NONE;
  bool ok = true;
  for (const TypingBatch& batch : batches) {
    if (stopping_) break;
    if (!batch.bindings.empty()) {
      if (!touched.empty()) waitUntilAppCaughtUp(target);
      target = pingTarget();
      bind(batch.bindings);
      for (const auto& b : batch.bindings) touched.push_back(b.keycode);
      // The server has the new bindings before the first key that uses them, and every client
      // is told of them ahead of that key.
      ok = sync() && ok;
    }
    size_t sinceProgressPing = 0;
    for (const KeyStroke& stroke : batch.strokes) {
      if (stopping_) break;
      press(stroke, shiftKeycode);
      if (!touched.empty() && target != XCB_WINDOW_NONE && ++sinceProgressPing == kStrokesPerPing) {
        ping(target);
        sinceProgressPing = 0;
      }
    }
  }
  if (stopping_) ok = false;
  ok = sync() && ok;
  if (!touched.empty()) {
    waitUntilAppCaughtUp(target);
    restore(original, std::move(touched));
    ok = sync() && ok;
    keymap_ = original;
    takeEvents();  // our own change notices; the keymap is as it was
    keymap_ = original;
  }
  if (binds) listenForPingAnswers(false);
  return ok;
}

xcb_window_t LinuxEventPoster::pingTarget() {
  auto focus = link_->reply(xcb_get_input_focus_reply, xcb_get_input_focus(c_));
  if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT) {
    return XCB_WINDOW_NONE;
  }
  // The focus may sit on a child of the top-level (a focus proxy); the top-level says whether
  // its client answers pings.
  xcb_window_t window = focus->focus;
  for (int depth = 0; depth < 16 && window != XCB_WINDOW_NONE && window != root_; ++depth) {
    auto protocols = link_->reply(
        xcb_get_property_reply, xcb_get_property(c_, 0, window, wmProtocols_, XCB_ATOM_ATOM, 0, 32));
    for (uint32_t atom : x11::propertyWords(protocols.get())) {
      if (atom == netWmPing_) return window;
    }
    auto tree = link_->reply(xcb_query_tree_reply, xcb_query_tree(c_, window));
    if (!tree) break;
    window = tree->parent;
  }
  return XCB_WINDOW_NONE;
}

void LinuxEventPoster::listenForPingAnswers(bool on) {
  // Answers go to the root window; toolkits differ in the mask they send them with.
  const uint32_t listen =
      on ? XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY : 0;
  xcb_change_window_attributes(c_, root_, XCB_CW_EVENT_MASK, &listen);
  if (!on) sync();
  takeEvents();
  pingsAnswered_ = pingSerial_;  // answers to earlier pings are no news
}

void LinuxEventPoster::ping(xcb_window_t target) {
  if (++pingSerial_ == 0) ++pingSerial_;
  xcb_client_message_event_t ping{};
  ping.response_type = XCB_CLIENT_MESSAGE;
  ping.format = 32;
  ping.window = target;
  ping.type = wmProtocols_;
  ping.data.data32[0] = netWmPing_;
  ping.data.data32[1] = pingSerial_;
  ping.data.data32[2] = target;
  xcb_send_event(c_, 0, target, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ping));
}

void LinuxEventPoster::waitUntilAppCaughtUp(xcb_window_t target) {
  if (target == XCB_WINDOW_NONE || netWmPing_ == XCB_ATOM_NONE) {
    sync();
    std::this_thread::sleep_for(kCatchUpUnanswerable);
    return;
  }
  ping(target);
  const uint32_t wanted = pingSerial_;
  xcb_flush(c_);
  uint32_t seen = pingsAnswered_;
  auto deadline = Clock::now() + kCatchUpLimit;
  // Answers are events, not replies: waited for here, while the application keeps answering.
  while (link_->alive() && !stopping_) {
    takeEvents();
    if (static_cast<int32_t>(pingsAnswered_ - wanted) >= 0) return;
    const auto now = Clock::now();
    if (pingsAnswered_ != seen) {
      seen = pingsAnswered_;
      deadline = now + kCatchUpLimit;
    }
    if (now >= deadline) return;
    // Bounded, so that a stop asked for meanwhile is seen.
    const auto left = std::min<Clock::duration>(deadline - now, kStopCheck);
    pollfd p{xcb_get_file_descriptor(c_), POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
  }
}

}  // namespace tavren::input
