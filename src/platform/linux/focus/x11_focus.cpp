#include "platform/linux/focus/x11_focus.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "platform/linux/x11/client_pids.h"
#include "platform/linux/x11/window_list.h"
#include "platform/linux/x11/x_extensions.h"

namespace tavren::x11 {

namespace {

// How deep below the root the input focus may sit inside an application's top-level.
constexpr int kFocusSearchDepth = 8;
// How long an activation waits for the server's clock.
constexpr std::chrono::milliseconds kClockWait{200};

bool focusableType(const WindowFacts& facts) {
  if (facts.types.empty()) return true;
  const Atom type = facts.types.front();
  return type == Atom::_NET_WM_WINDOW_TYPE_NORMAL || type == Atom::_NET_WM_WINDOW_TYPE_DIALOG ||
         type == Atom::_NET_WM_WINDOW_TYPE_UTILITY;
}

int32_t ownerOf(const XConnection& x, xcb_window_t window) {
  if (auto listed = describeWindow(x, window); listed && listed->pid > 0) return listed->pid;
  ClientPidQuery query(x, std::span<const xcb_window_t>(&window, 1));
  return query.collect()[0];
}

}  // namespace

X11Focus::X11Focus(const XConnection* x) : x_(x) {}

bool X11Focus::ewmhReady() {
  std::lock_guard lock(ewmhMutex_);
  if (ewmhReady_) return true;
  if (!x_ || !x_->alive()) return false;
  if (ewmhCookies_ == nullptr) ewmhCookies_ = xcb_ewmh_init_atoms(x_->get(), &ewmh_);
  if (ewmhCookies_ == nullptr) return false;
  // The library waits for its atoms without a bound; a round trip of our own, which is, comes
  // back only after all of them have, so the library then finds them waiting. If it does not
  // come back, the atoms are asked again on a later call.
  if (!x_->reply(xcb_get_input_focus_reply, xcb_get_input_focus(x_->get()))) return false;
  ewmhReady_ = xcb_ewmh_init_atoms_replies(&ewmh_, ewmhCookies_, nullptr) != 0;
  ewmhCookies_ = nullptr;  // freed by the library
  return ewmhReady_;
}

bool X11Focus::windowManager() {
  // Asked each time: a manager may start after the service, or end.
  return x_ && x_->alive() && findWmCheckWindow(x_->link(), x_->atoms()) != XCB_WINDOW_NONE;
}

X11Focus::~X11Focus() {
  if (ewmhReady_) xcb_ewmh_connection_wipe(&ewmh_);
}

ActiveWindowWatch* X11Focus::watch() {
  if (!x_ || !x_->alive()) return nullptr;
  std::shared_future<std::shared_ptr<XLink>> connecting;
  {
    std::lock_guard lock(watchMutex_);
    if (watch_) return watch_.get();
    if (!watchLink_.valid()) {
      watchLink_ = XLink::connectInBackground(x_->displayName());
    }
    connecting = watchLink_;
  }
  // Waited for without the lock, so that callers behind a server that does not answer the
  // set-up wait one timeout each, not one after the other; a later call looks again.
  if (connecting.wait_for(XLink::kReplyTimeout) != std::future_status::ready) return nullptr;
  std::lock_guard lock(watchMutex_);
  if (watch_ || !watchLink_.valid()) return watch_.get();
  watchLink_ = {};  // when the watch cannot start, the next call connects again
  watch_ = ActiveWindowWatch::start(connecting.get(), x_->atom(Atom::_NET_ACTIVE_WINDOW));
  return watch_.get();
}

std::optional<xcb_window_t> X11Focus::managerActiveWindow() {
  if (!ewmhReady()) return std::nullopt;
  auto reply =
      x_->reply(xcb_get_property_reply, xcb_ewmh_get_active_window(&ewmh_, x_->screenNumber()));
  if (!reply || reply->type == XCB_ATOM_NONE) return std::nullopt;
  xcb_window_t window = XCB_WINDOW_NONE;
  if (!xcb_ewmh_get_active_window_from_reply(&window, reply.get())) return XCB_WINDOW_NONE;
  return window;
}

ActiveWindow X11Focus::activeWindow() {
  if (!x_ || !x_->alive()) return {};
  // A manager that keeps the property is believed even when it names no window.
  if (const std::optional<xcb_window_t> window = managerActiveWindow()) {
    if (*window == XCB_WINDOW_NONE) return {};
    return {*window, ownerOf(*x_, *window)};
  }
  return focusHolder();
}

// The top-level that holds the input focus, for desktops whose manager keeps no active window.
ActiveWindow X11Focus::focusHolder() {
  xcb_connection_t* c = x_->get();
  auto focus = x_->reply(xcb_get_input_focus_reply, xcb_get_input_focus(c));
  if (!focus || focus->focus == XCB_WINDOW_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
      focus->focus == x_->root()) {
    return {};
  }
  const xcb_window_t focused = focus->focus;
  xcb_window_t top = focused;
  for (int depth = 0; depth < kFocusSearchDepth; ++depth) {
    auto tree = x_->reply(xcb_query_tree_reply, xcb_query_tree(c, top));
    if (!tree) return {};
    if (tree->parent == x_->root() || tree->parent == XCB_WINDOW_NONE) break;
    top = tree->parent;
  }
  int32_t pid = ownerOf(*x_, top);
  if (pid <= 0) pid = ownerOf(*x_, focused);
  return {top, pid};
}

std::vector<FocusableWindow> X11Focus::focusableWindows(int32_t pid) {
  std::vector<FocusableWindow> windows;
  if (!x_ || pid <= 0) return windows;
  for (const ListedWindow& w : listWindows(*x_)) {
    if (w.pid != pid || !w.managed || w.facts.overrideRedirect || !focusableType(w.facts)) continue;
    const bool minimized = w.facts.hidden || w.facts.wmState == kIconicState;
    windows.push_back({w.facts.id, minimized});
  }
  return windows;
}

bool X11Focus::activate(uint32_t window) {
  if (window == 0 || !windowManager() || !ewmhReady()) return false;
  ActiveWindowWatch* w = watch();
  const xcb_timestamp_t time =
      w ? w->serverTime(std::chrono::steady_clock::now() + kClockWait) : XCB_CURRENT_TIME;
  const xcb_window_t current = managerActiveWindow().value_or(XCB_WINDOW_NONE);
  xcb_ewmh_request_change_active_window(&ewmh_, x_->screenNumber(), window,
                                        XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, time, current);
  xcb_flush(x_->get());
  return true;
}

bool X11Focus::managerSupports(xcb_atom_t atom) {
  auto reply =
      x_->reply(xcb_get_property_reply, xcb_ewmh_get_supported(&ewmh_, x_->screenNumber()));
  const std::vector<uint32_t> supported = propertyWords(reply.get());
  return std::find(supported.begin(), supported.end(), atom) != supported.end();
}

bool X11Focus::raise(uint32_t window) {
  if (window == 0 || !windowManager() || !ewmhReady()) return false;
  if (managerSupports(ewmh_._NET_RESTACK_WINDOW)) {
    xcb_ewmh_request_restack_window(&ewmh_, x_->screenNumber(), window, XCB_WINDOW_NONE,
                                    XCB_STACK_MODE_ABOVE);
  } else {
    // The manager redirects this to itself as a configure request of the client.
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(x_->get(), window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
  }
  xcb_flush(x_->get());
  return true;
}

uint64_t X11Focus::activeWindowChanges() {
  ActiveWindowWatch* w = watch();
  return w ? w->changes() : 0;
}

void X11Focus::waitForActiveWindowChange(uint64_t seen, Deadline deadline) {
  if (ActiveWindowWatch* w = watch()) {
    w->waitForChange(seen, deadline);
  } else {
    std::this_thread::sleep_until(deadline);  // nothing to watch: only the deadline can end it
  }
}

}  // namespace tavren::x11
