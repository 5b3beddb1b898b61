#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "core/json.h"
#include "platform/focus.h"
#include "platform/window_server.h"

namespace tavren {

// The active window of the in-memory desktop, and a window manager that applies what it is
// asked at once. Windows and their owners come from the desktop's window list: those of layer 0
// or 3 can be activated; one that is not on screen counts as minimized.
//
// Fixture member it reads (optional):
//   "focus": {"activeWindow": 0, "managerIgnores": false}
// Without the windowManager capability nothing can be activated or raised. A manager that
// ignores requests takes them (activate answers true) and changes nothing.
class FakeFocus final : public Focus {
 public:
  FakeFocus(WindowServer& windows, const Json& fixture, bool windowManager);

  ActiveWindow activeWindow() override;
  std::vector<FocusableWindow> focusableWindows(int32_t pid) override;
  bool activate(uint32_t window) override;
  bool raise(uint32_t window) override;
  uint64_t activeWindowChanges() override;
  void waitForActiveWindowChange(uint64_t seen, Deadline deadline) override;

  // Changes made by tests, as a user would make them.
  void setActiveWindow(uint32_t window);
  // "activate N" and "raise N", oldest first.
  std::vector<std::string> journal() const;

 private:
  WindowServer& windows_;
  const bool windowManager_;
  const bool managerIgnores_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  uint32_t active_ = 0;
  uint64_t changes_ = 0;
  std::vector<std::string> journal_;
};

}  // namespace tavren
