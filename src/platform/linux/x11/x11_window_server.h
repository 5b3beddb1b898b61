#pragma once

#include "platform/linux/workspace/app_naming.h"
#include "platform/linux/x11/x_connection.h"
#include "platform/window_server.h"

namespace tavren::x11 {

// The window list of the X display. Owners are named as the workspace names them (one naming,
// shared): an application is asked its accessibility name at most once in its life.
class X11WindowServer final : public WindowServer {
 public:
  // x may be null (no display): the lists are then empty. Both must outlive the server.
  X11WindowServer(const XConnection* x, workspace::AppNaming& naming);

  std::vector<WindowInfo> windows() override;
  std::vector<WindowInfo> unnamedWindows() override;
  WindowListing unnamedListing() override;
  std::optional<WindowInfo> window(uint32_t number) override;
  std::optional<WindowInfo> unnamedWindow(uint32_t number) override;

 private:
  const XConnection* x_;
  workspace::AppNaming& naming_;
};

}  // namespace tavren::x11
