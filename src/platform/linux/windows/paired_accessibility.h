#pragma once

#include "platform/accessibility.h"
#include "platform/linux/atspi/atspi_accessibility.h"
#include "platform/linux/windows/linux_app_windows.h"

namespace tavren::appwindows {

// Accessibility whose window elements report the rectangle of the X window they are paired with
// (the client's rectangle) as their position and size, instead of what the toolkit gives
// (a decorated window's frame on openbox), and a window the toolkit left without a name takes its
// X title. So a tree's window rows and a window scope taken from appWindows or the window lists
// use the same numbers and titles for the same window. Windows left unpaired keep what the
// toolkit gives.
class PairedAccessibility final : public Accessibility {
 public:
  // Both must outlive this.
  PairedAccessibility(atspi::AtspiAccessibility& toolkit, LinuxApplicationWindows& windows)
      : toolkit_(toolkit), windows_(windows) {}

  bool trusted() override { return toolkit_.trusted(); }
  std::unique_ptr<AccessibilitySnapshot> snapshot(int32_t pid) override;
  std::unique_ptr<AccessibleElement> element(int32_t pid, PathRoot root, int64_t index,
                                             std::span<const int64_t> children) override {
    return toolkit_.element(pid, root, index, children);
  }

 private:
  atspi::AtspiAccessibility& toolkit_;
  LinuxApplicationWindows& windows_;
};

}  // namespace tavren::appwindows
