#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/geometry.h"

namespace tavren {

// The window that holds the desktop's focus and the process that owns it. Zeros when no window
// does, or when its owner cannot be told.
struct ActiveWindow {
  uint32_t window = 0;
  int32_t pid = 0;
};

// A window of an application that the window manager can make active.
struct FocusableWindow {
  uint32_t window = 0;
  bool minimized = false;
};

// Which window is active, and asking the window manager to change that. Every answer is a fact
// of the moment; nothing here waits for the window manager except waitForActiveWindowChange.
class Focus {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  virtual ~Focus() = default;
  virtual ActiveWindow activeWindow() = 0;
  // The windows of pid that the window manager can activate, front to back.
  virtual std::vector<FocusableWindow> focusableWindows(int32_t pid) = 0;
  // Asks the window manager to activate the window as a user would: it gets the input focus and
  // comes to the front, un-minimized. False when there is no window manager to ask.
  virtual bool activate(uint32_t window) = 0;
  // Asks the window manager to put the window above the others of its layer, without changing
  // the focus. False when there is no window manager to ask.
  virtual bool raise(uint32_t window) = 0;
  // How many times the active window has changed since the desktop was first watched.
  virtual uint64_t activeWindowChanges() = 0;
  // Returns once activeWindowChanges() differs from `seen`, or at the deadline.
  virtual void waitForActiveWindowChange(uint64_t seen, Deadline deadline) = 0;
};

}  // namespace tavren
