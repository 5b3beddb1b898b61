#pragma once

#include <xcb/xcb.h>

#include "platform/application_windows.h"
#include "platform/linux/atspi/atspi_bus.h"
#include "platform/linux/windows/window_matching.h"
#include "platform/linux/x11/x_connection.h"

namespace tavren::appwindows {

// Applications' windows through AT-SPI, each paired with its X window, and minimizing undone
// through the window manager. Keeps nothing between calls but the atom it needs.
class LinuxApplicationWindows final : public ApplicationWindows {
 public:
  // x may be null (no display). Both must outlive this.
  LinuxApplicationWindows(const x11::XConnection* x, atspi::AtspiBus& bus);

  bool trusted() override;
  std::vector<AppWindowRecord> windows(int32_t pid) override;
  bool isHidden(int32_t pid) override;
  bool isTerminated(int32_t pid) override;
  void unhide(int32_t pid) override;
  bool unminimize(int32_t pid, size_t index) override;

  // The process's X windows in window-list order, with their frames.
  std::vector<ClientWindow> clientWindows(int32_t pid);

 private:
  std::vector<PairedWindow> read(int32_t pid);

  const x11::XConnection* x_;
  atspi::AtspiBus& bus_;
};

}  // namespace tavren::appwindows
