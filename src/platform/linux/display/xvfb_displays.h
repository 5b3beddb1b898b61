#pragma once

#include <memory>
#include <string>

#include "core/worker_pool.h"
#include "platform/displays.h"

namespace tavren::display {

// The display number in an X display name ("host:N.S", ":N"); nothing when it names none.
std::optional<uint32_t> displayNumber(const std::string& name);

// Displays of an X11 machine. The online displays are the RandR monitors of the display this
// process was started on; a virtual display is an X server of our own (Xvfb, 96 dpi, RandR)
// with its session bus, its accessibility bus and a window manager, named by its display number.
//
// Every server is started, and ended, from one thread that lives as long as this object: the
// programs get SIGTERM from the kernel when that thread ends (PR_SET_PDEATHSIG), which happens
// however the process ends, SIGKILL included, so none of them outlives it.
class XvfbDisplays final : public Displays {
 public:
  // `startupDisplay`: $DISPLAY as the process found it, possibly empty.
  explicit XvfbDisplays(std::string startupDisplay);
  ~XvfbDisplays() override;

  std::optional<std::vector<uint32_t>> onlineDisplays() override;
  bool virtualDisplaysAvailable() override;
  std::unique_ptr<VirtualDisplay> createVirtualDisplay(int width, int height) override;

 private:
  std::string startupDisplay_;
  std::shared_ptr<WorkerPool> keeper_;  // one thread, the parent of every server
};

}  // namespace tavren::display
