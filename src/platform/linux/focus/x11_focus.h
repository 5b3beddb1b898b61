#pragma once

#include <xcb/xcb_ewmh.h>

#include <future>
#include <memory>
#include <mutex>

#include "platform/focus.h"
#include "platform/linux/focus/active_window_watch.h"
#include "platform/linux/x11/x_connection.h"

namespace tavren::x11 {

// Focus on an X desktop. The active window is the window manager's _NET_ACTIVE_WINDOW, or the
// top-level holding the input focus when the manager keeps none. Activation and raising are
// EWMH requests marked as coming from a pager (source indication 2), stamped with the server's
// own time, so that focus-stealing prevention treats them as the user's. Without an EWMH window
// manager nothing is asked: activate and raise answer false.
class X11Focus final : public Focus {
 public:
  // x may be null (no display). It must outlive the focus. Nothing is asked of the server
  // until the first call.
  explicit X11Focus(const XConnection* x);
  ~X11Focus() override;

  ActiveWindow activeWindow() override;
  std::vector<FocusableWindow> focusableWindows(int32_t pid) override;
  bool activate(uint32_t window) override;
  bool raise(uint32_t window) override;
  uint64_t activeWindowChanges() override;
  void waitForActiveWindowChange(uint64_t seen, Deadline deadline) override;

 private:
  // The watch, on a connection of its own opened on first use; null until that connection
  // answers, and when it cannot be opened. Waits at most one reply timeout.
  ActiveWindowWatch* watch();
  bool managerSupports(xcb_atom_t atom);
  // The window manager's _NET_ACTIVE_WINDOW (XCB_WINDOW_NONE when it names none); nothing when
  // the manager keeps no such property or the server does not answer.
  std::optional<xcb_window_t> managerActiveWindow();
  ActiveWindow focusHolder();
  // The EWMH atoms, learnt once the connection answers; false until then.
  bool ewmhReady();
  // An EWMH window manager runs (its check window is set).
  bool windowManager();

  const XConnection* x_;
  std::mutex ewmhMutex_;
  bool ewmhReady_ = false;  // guarded by ewmhMutex_; never false again once true
  xcb_intern_atom_cookie_t* ewmhCookies_ = nullptr;  // asked, not yet read
  xcb_ewmh_connection_t ewmh_{};
  std::mutex watchMutex_;
  std::shared_future<std::shared_ptr<XLink>> watchLink_;  // connecting; guarded by watchMutex_
  std::unique_ptr<ActiveWindowWatch> watch_;  // guarded by watchMutex_; set once, kept for good
};

}  // namespace tavren::x11
