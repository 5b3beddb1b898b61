#pragma once

#include <xcb/xcb.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/event_poster.h"
#include "platform/linux/atspi/accessible_scroll.h"
#include "platform/linux/input/typing_plan.h"
#include "platform/linux/input/window_poster.h"
#include "platform/linux/x11/x_connection.h"

namespace tavren::input {

// Input posted through XTest on a connection of its own: the events it waits for (keymap
// changes, applications' ping answers) must not be taken by another reader, and its requests
// must not queue behind a slow one elsewhere. Calls are serialized; each post returns once the
// server has taken the events in, so the application sees them in the order they were asked
// for and a release before exit is never lost.
class LinuxEventPoster final : public EventPoster {
 public:
  // Scrolls a process's window at a global point through accessibility where its toolkit
  // ignores synthetic wheel events (atspi::scrollUnderPoint): the window's origin, the point,
  // and the wheel clicks, vertical then horizontal. Called from any thread.
  using ScrollStandIn = std::function<atspi::WheelStandIn(int32_t pid, Point windowOrigin,
                                                          Point at, std::array<int32_t, 2>)>;

  // Connects to $DISPLAY on first use, once the shared connection `x` answers (a server that
  // does not answer must not hold anybody up); every global post fails without a display or
  // without XTest. Window-addressed events go over `x`, which may be null and must outlive
  // the poster. Without `standIn` every window-addressed scroll is sent as wheel events.
  explicit LinuxEventPoster(const x11::XConnection* x, ScrollStandIn standIn = {});
  ~LinuxEventPoster() override;

  bool postToWindow(int32_t pid, const EventWindow& target, const PointerEvent& e) override;
  bool postToWindow(int32_t pid, const EventWindow& target, const KeyEvent& e) override;
  // Where the server has XInput 2.1 and the stand-in says the window's toolkit ignores
  // synthetic wheel events, the stand-in scrolls; only when it finds nothing to scroll are the
  // wheel events sent all the same (Ignored once the server took them).
  ScrollDelivery postToWindow(int32_t pid, const EventWindow& target,
                              const ScrollEvent& e) override;
  bool postGlobal(const PointerEvent& e) override;
  bool postGlobal(const KeyEvent& e) override;
  bool postGlobal(const ScrollEvent& e) override;
  std::optional<Point> pointerLocation() override;
  std::chrono::milliseconds doubleClickInterval() override;
  void stopTyping() override { stopping_ = true; }

 private:
  // Connect on first use, once the shared connection answers. Call with mutex_ held.
  bool connected();
  bool usable();  // connected, with XTest
  void connect();
  bool fake(uint8_t type, uint8_t detail, int16_t x = 0, int16_t y = 0);
  bool sync();
  bool releaseTakenIn(uint8_t button);  // the server has handled the release of `button`
  void takeEvents();
  const Keymap& keymap();
  bool typeText(std::u32string_view text);
  void bind(std::vector<TypingBatch::Binding> bindings);
  void restore(const Keymap& original, std::vector<uint8_t> keycodes);
  bool press(const KeyStroke& stroke, uint8_t shiftKeycode);
  void listenForPingAnswers(bool on);
  void ping(xcb_window_t target);
  // Until `target`'s client has handled everything sent so far, or has answered nothing for the
  // catch-up limit.
  void waitUntilAppCaughtUp(xcb_window_t target);
  xcb_window_t pingTarget();

  const x11::XConnection* x_;
  WindowPoster windows_;
  const ScrollStandIn standIn_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::unique_ptr<x11::XLink> link_;  // our own connection, none until connected
  xcb_connection_t* c_ = nullptr;     // link_'s, for requests
  xcb_window_t root_ = XCB_WINDOW_NONE;
  bool xtest_ = false;
  xcb_atom_t wmProtocols_ = XCB_ATOM_NONE;
  xcb_atom_t netWmPing_ = XCB_ATOM_NONE;
  xcb_atom_t settingsSelection_ = XCB_ATOM_NONE;
  xcb_atom_t settingsProperty_ = XCB_ATOM_NONE;
  std::optional<Keymap> keymap_;  // none when it must be read again
  uint32_t pingSerial_ = 0;     // the last ping sent
  uint32_t pingsAnswered_ = 0;  // the newest of them answered
  int32_t wheelRemainder_[2] = {0, 0};  // pixels not yet worth a wheel click, per axis
  std::optional<std::chrono::milliseconds> doubleClick_;
  std::chrono::steady_clock::time_point doubleClickReadAt_{};
};

// Pixels of scrolling that one wheel click (X buttons 4 to 7) stands for.
inline constexpr int32_t kPixelsPerWheelClick = 50;

// The wheel clicks a pixel delta is worth, carrying the rest in `remainder` (dropped when the
// direction changes). Positive clicks scroll up (or left).
int32_t wheelClicks(int32_t pixels, int32_t& remainder);

}  // namespace tavren::input
