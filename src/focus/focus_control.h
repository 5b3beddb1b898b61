#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/focus.h"
#include "platform/workspace.h"

namespace tavren {

// How long the front commands wait for a switch to show.
inline constexpr std::chrono::milliseconds kFrontWait{1200};

// The process of the active window; 0 when there is none.
int32_t frontProcessPid(Focus& focus);

// The application of the active window, when the workspace knows it.
std::optional<AppInfo> frontmostApplication(Workspace& workspace, Focus& focus);

// Whether pid is (or becomes, before the timeout) the front process. Woken by every change of
// the active window; a timeout of zero or less makes exactly one comparison.
bool waitUntilFront(Focus& focus, int32_t pid, std::chrono::milliseconds timeout);

// The window a switch to an application activates: `requested` when it is one of `windows`,
// else the front-most one on screen, else the front-most minimized one; none when the
// application has no window to activate.
std::optional<uint32_t> windowToActivate(std::span<const FocusableWindow> windows,
                                         uint32_t requested);

// Asks for pid to become the front process through the window chosen by windowToActivate, which
// also receives the input focus. True when the request was made; false when the process has no
// window to activate or the desktop has no window manager to ask.
bool setFront(Focus& focus, int32_t pid, uint32_t windowId);

// Puts windowId above the other windows when it is one of pid's. False for window 0, a window of
// another process, or a desktop with no window manager.
bool raiseWindow(Focus& focus, int32_t pid, uint32_t windowId);

}  // namespace tavren
