#pragma once

#include "platform/linux/workspace/app_identity.h"
#include "platform/linux/workspace/atspi_name_memo.h"
#include "platform/linux/workspace/desktop_entry_cache.h"
#include "platform/linux/x11/x_connection.h"
#include "platform/window_server.h"

namespace tavren::x11 {

// The window list of the X display. Owner names follow the workspace's naming rule without
// calling into applications (too slow, and they may hang): desktop entry Name, else the
// accessibility name the workspace already learnt, else WM_CLASS class, else the command name.
class X11WindowServer final : public WindowServer {
 public:
  // x may be null (no display): the lists are then empty. Both must outlive the server.
  X11WindowServer(const XConnection* x, workspace::DesktopEntryCache& entries,
                  workspace::AtspiNameMemo& names);

  std::vector<WindowInfo> windows() override;
  std::optional<WindowInfo> window(uint32_t number) override;

 private:
  std::string ownerName(int32_t pid, const workspace::WindowClues& clues,
                        std::span<const workspace::DesktopEntry> entries);

  const XConnection* x_;
  workspace::DesktopEntryCache& entries_;
  workspace::AtspiNameMemo& names_;
};

}  // namespace tavren::x11
