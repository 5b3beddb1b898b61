#include "input/input_posting.h"

#include <sys/prctl.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>
#include <variant>

#include "core/params.h"
#include "focus/window_guard.h"
#include "input/event_targeting.h"
#include "input/interaction_receipts.h"

namespace tavren {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// The fixed pauses after each posted event, which give the application time to handle one
// event before the next arrives (a press too soon after a move may land before the hover).
// Each counts from when the event's post began: the post's wait for the server's verdict on
// the event passes within the pause instead of adding to it.
constexpr milliseconds kAfterMove{60};
constexpr milliseconds kAfterMoveOnly{20};
constexpr milliseconds kAfterPress{30};
constexpr milliseconds kAfterRelease{20};
constexpr milliseconds kAfterDragStep{12};
constexpr int kDragSteps = 8;
constexpr milliseconds kAfterKey{20};
constexpr milliseconds kAfterScroll{20};
// How late an event of a mouse sequence may go out and still keep the sequence's timeline.
constexpr std::chrono::microseconds kKeptLateness{1000};

void pauseFrom(Clock::time_point postedAt, milliseconds d) {
  // The kernel may wake a sleeper up to its thread's timer slack late (50 us by default), after
  // every pause of a sequence; the pauses' threads wake on time.
  static thread_local const bool onTime = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
  (void)onTime;
  std::this_thread::sleep_until(postedAt + d);
}

// A coordinate parameter: 0 when missing, mistyped or not finite.
double coordinate(const Json& params, std::string_view key) {
  const double v = number(params, key);
  return std::isfinite(v) ? v : 0.0;
}

// An integer parameter of type T, or the method's error when its truncation does not fit T.
template <class T>
std::variant<T, ServiceError> whole(const Json& params, std::string_view key, int code) {
  if (auto v = truncatedInteger<T>(number(params, key))) return *v;
  return computerUseError(code, "INVALID_PARAMETER: " + std::string(key) +
                                    " must be a whole number from " +
                                    std::to_string(std::numeric_limits<T>::min()) + " to " +
                                    std::to_string(std::numeric_limits<T>::max()));
}

// The request's process: the range error, or the method's own error for a pid below 1.
std::variant<int32_t, ServiceError> targetPid(const Json& params, int code, const char* message) {
  auto pid = whole<int32_t>(params, "pid", code);
  if (auto* p = std::get_if<int32_t>(&pid); p && *p < 1) return computerUseError(code, message);
  return pid;
}

int clampedClickCount(const Json& params) {
  const double n = std::trunc(number(params, "clickCount"));
  if (!(n >= 1)) return 1;  // also NaN
  return n >= 3 ? 3 : static_cast<int>(n);
}

Json withWindowAddressed(Json receipt, bool addressed) {
  receipt["windowAddressed"] = addressed;
  return receipt;
}

// Posts the events of one mouse sequence to one target, remembering the button it holds down
// so that a sequence cut short by a failed post lets go of it.
class MouseSequence {
 public:
  MouseSequence(EventPoster& poster, int32_t pid, const EventTarget& target)
      : poster_(poster), pid_(pid), target_(target) {}
  ~MouseSequence() { releaseHeld(); }

  bool move(Point at, bool pressFollows) {
    return post({.action = PointerAction::Move, .location = at, .pressFollows = pressFollows}, at);
  }

  bool press(int button, int clickCount, Point at) {
    // The release and any drag go where the press went: on X the window that took the press
    // keeps the pointer until the release.
    pressWindow_ = target_.windowAt(at);
    if (!send(*pressWindow_, {.action = PointerAction::Down, .button = button,
                              .clickCount = clickCount, .location = at})) {
      pressWindow_.reset();
      return false;
    }
    // The first press of a click may be held back by the poster to keep it apart from the last
    // click: its pause counts from the end of its post, when it has gone out for sure.
    if (clickCount <= 1) postedAt_ = Clock::now();
    held_ = {button, clickCount, at};
    return true;
  }

  bool drag(Point at) {
    if (!send(*pressWindow_, {.action = PointerAction::Drag, .button = held_.button,
                              .clickCount = held_.clickCount, .location = at})) {
      return false;
    }
    held_.location = at;  // a release after a failure goes where the pointer last was
    return true;
  }

  bool release(Point at) {
    const bool ok = send(*pressWindow_, {.action = PointerAction::Up, .button = held_.button,
                                         .clickCount = held_.clickCount, .location = at});
    if (ok) pressWindow_.reset();
    return ok;
  }

  // The pause after the event posted last. A sequence's events keep one timeline: each is due
  // a pause after the one before it was due, so the wake-ups' lateness (a tenth of a millisecond
  // or so each, more on a busy machine) is not added up over the eleven pauses of a drag. An
  // event that went out later than kKeptLateness (a slow post, a stalled thread) starts the
  // timeline again from when it went, so no two events come closer than their pause less that.
  void pause(milliseconds d) {
    due_ = postedAt_ + d;
    pauseFrom(postedAt_, d);
  }

 private:
  struct Held {
    int button = 0;
    int clickCount = 1;
    Point location;
  };

  bool post(const PointerEvent& e, Point at) { return send(target_.windowAt(at), e); }
  bool send(const EventWindow& window, const PointerEvent& e) {
    const auto now = Clock::now();
    postedAt_ = due_ && now >= *due_ && now - *due_ <= kKeptLateness ? *due_ : now;
    return poster_.postToWindow(pid_, window, e);
  }
  void releaseHeld() {
    if (!pressWindow_) return;
    send(*pressWindow_, {.action = PointerAction::Up, .button = held_.button,
                         .clickCount = held_.clickCount, .location = held_.location});
    pressWindow_.reset();
  }

  EventPoster& poster_;
  int32_t pid_;
  const EventTarget& target_;
  std::optional<EventWindow> pressWindow_;  // set while a button is down
  Held held_;
  Clock::time_point postedAt_;
  std::optional<Clock::time_point> due_;  // when the event posted next was due
};

const char* deliveryName(ScrollDelivery d) {
  switch (d) {
    case ScrollDelivery::Accessibility:
      return "accessibility";
    case ScrollDelivery::Ignored:
      return "ignored";
    default:
      return "wheel";
  }
}

int buttonOf(const std::optional<std::string>& kind) {
  if (kind == "right_click") return 1;
  if (kind == "middle_click") return 2;
  return 0;
}

}  // namespace

Outcome postMouseMethod(const Json& params, EventPoster& poster, WindowServer& windows,
                        Workspace& workspace, Focus& focus) {
  const auto pidParam = targetPid(params, 6, "Background mouse event requires pid");
  if (auto* error = std::get_if<ServiceError>(&pidParam)) return *error;
  const int32_t pid = std::get<int32_t>(pidParam);
  const std::optional<std::string> kind = stringParam(params, "kind");
  const Point from{coordinate(params, "x"), coordinate(params, "y")};
  const Point to{coordinate(params, "toX"), coordinate(params, "toY")};
  const ServiceError cannotCreate = computerUseError(7, "Cannot create mouse event");

  const WindowListing list = windows.unnamedListing();
  const DesktopState before = readDesktopState(poster, workspace, focus, &list);
  const std::optional<EventTarget> named = eventWindow(params, pid, list.windows);
  const std::optional<EventTarget> target = named ? named : processTarget(pid, list.windows);
  if (!target) return cannotCreate;  // nothing of the process can take the events

  {
    MouseSequence sequence(poster, pid, *target);
    if (!sequence.move(from, kind != "move")) return cannotCreate;
    if (kind == "move") {
      sequence.pause(kAfterMove + kAfterMoveOnly);
    } else if (sequence.pause(kAfterMove); !observedWindowMatches(params, windows)) {
      // No press follows after all: a plain move where the pointer is tells the backend so.
      sequence.move(from, false);
      return staleWindowResult();
    } else if (kind == "drag") {
      if (!sequence.press(0, 1, from)) return cannotCreate;
      sequence.pause(kAfterPress);
      for (int i = 1; i <= kDragSteps; ++i) {
        const Point step = i == kDragSteps
                               ? to
                               : Point{from.x + (to.x - from.x) * i / kDragSteps,
                                       from.y + (to.y - from.y) * i / kDragSteps};
        if (!sequence.drag(step)) return cannotCreate;
        sequence.pause(kAfterDragStep);
      }
      if (!sequence.release(to)) return cannotCreate;
      sequence.pause(kAfterRelease);
    } else {
      const int button = buttonOf(kind);
      const int clicks = clampedClickCount(params);
      for (int n = 1; n <= clicks; ++n) {
        if (!sequence.press(button, n, from)) return cannotCreate;
        sequence.pause(kAfterPress);
        if (!sequence.release(from)) return cannotCreate;
        sequence.pause(kAfterRelease);
      }
    }
  }
  return withWindowAddressed(
      inputReceipt({pid, target->attached.id}, before, poster, workspace, windows, focus),
      named.has_value());
}

Outcome postKeyMethod(const Json& params, EventPoster& poster, WindowServer& windows,
                      Workspace& workspace, Focus& focus) {
  const ServiceError invalid = computerUseError(4, "Invalid keyboard event");
  const auto pidParam = targetPid(params, 4, "Invalid keyboard event");
  const auto keyParam = whole<uint16_t>(params, "keyCode", 4);
  const auto flagsParam = whole<uint64_t>(params, "flags", 4);
  for (const ServiceError* e : {std::get_if<ServiceError>(&pidParam),
                                std::get_if<ServiceError>(&keyParam),
                                std::get_if<ServiceError>(&flagsParam)}) {
    if (e) return *e;
  }
  const int32_t pid = std::get<int32_t>(pidParam);
  const uint16_t keyCode = std::get<uint16_t>(keyParam);
  const uint64_t flags = std::get<uint64_t>(flagsParam);
  const WindowListing list = windows.unnamedListing();
  const std::optional<EventWindow> window = keyWindow(params, pid, list.windows);
  if (!window) return invalid;  // no window of the process to take the key

  const DesktopState before = readDesktopState(poster, workspace, focus, &list);
  // A key the backend cannot make (no such key on this keyboard) fails before anything is sent.
  KeyEvent down;
  down.keyCode = keyCode;
  down.flags = flags;
  Clock::time_point postedAt = Clock::now();
  if (!poster.postToWindow(pid, *window, down)) {
    return invalid;
  }
  pauseFrom(postedAt, kAfterKey);
  KeyEvent up = down;
  up.down = false;
  // A key left down would repeat in the application: the release is worth a second try.
  postedAt = Clock::now();
  if (!poster.postToWindow(pid, *window, up)) {
    postedAt = Clock::now();
    if (!poster.postToWindow(pid, *window, up)) return invalid;
  }
  pauseFrom(postedAt, kAfterKey);
  return inputReceipt({pid, window->id}, before, poster, workspace, windows, focus);
}

Outcome postScrollMethod(const Json& params, EventPoster& poster, WindowServer& windows,
                         Workspace& workspace, Focus& focus) {
  const ServiceError invalid = computerUseError(5, "Invalid scroll event");
  const auto pidParam = targetPid(params, 5, "Invalid scroll event");
  const auto dyParam = whole<int32_t>(params, "dy", 5);
  const auto dxParam = whole<int32_t>(params, "dx", 5);
  for (const ServiceError* e : {std::get_if<ServiceError>(&pidParam),
                                std::get_if<ServiceError>(&dyParam),
                                std::get_if<ServiceError>(&dxParam)}) {
    if (e) return *e;
  }
  const int32_t pid = std::get<int32_t>(pidParam);
  const int32_t dy = std::get<int32_t>(dyParam);
  const int32_t dx = std::get<int32_t>(dxParam);
  const Point at{coordinate(params, "x"), coordinate(params, "y")};

  const WindowListing list = windows.unnamedListing();
  const DesktopState before = readDesktopState(poster, workspace, focus, &list);
  const std::optional<EventTarget> named = eventWindow(params, pid, list.windows);
  const std::optional<EventTarget> target = named ? named : processTarget(pid, list.windows);
  if (!target) return invalid;
  ScrollEvent scroll{.location = at};
  scroll.lines[0] = dy;
  scroll.lines[1] = dx;
  const Clock::time_point postedAt = Clock::now();
  const ScrollDelivery delivery = poster.postToWindow(pid, target->windowAt(at), scroll);
  if (delivery == ScrollDelivery::Failed) return invalid;
  pauseFrom(postedAt, kAfterScroll);
  Json receipt = withWindowAddressed(
      inputReceipt({pid, target->attached.id}, before, poster, workspace, windows, focus),
      named.has_value());
  receipt["delivery"] = deliveryName(delivery);
  // Events the target is known to drop were not posted to it in any useful sense.
  if (delivery == ScrollDelivery::Ignored) receipt["posted"] = false;
  return receipt;
}

}  // namespace tavren
