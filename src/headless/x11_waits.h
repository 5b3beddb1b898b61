// Waiting for the X side of a desktop to be ready: the server, the window manager, a client
// window. Each wait opens its own connection, so none holds a connection to a server that is
// about to be stopped.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tavren::headless {

using Deadline = std::chrono::steady_clock::time_point;
// Checked between waits; returns true when waiting further is pointless (a process died).
using GiveUp = std::function<bool()>;

// Until an X connection to `display` succeeds.
bool waitForXServer(const std::string& display, Deadline deadline, const GiveUp& giveUp,
                    std::string* error);

// Until the root window names a live EWMH window manager through _NET_SUPPORTING_WM_CHECK (the
// check window must carry the same property, or it is left over from a previous manager).
bool waitForWindowManager(const std::string& display, Deadline deadline, const GiveUp& giveUp,
                          std::string* error);

// Until a viewable client top-level window matches: _NET_WM_PID equal to `pid` when pid > 0, and
// `text` (when not empty) contained in its WM_CLASS instance or class, _NET_WM_NAME or WM_NAME.
// With `popups`, override-redirect windows on the root (which no manager lists) count as well.
// Gives that window's id; none once the deadline has passed.
std::optional<uint32_t> waitForClientWindow(const std::string& display, pid_t pid,
                                            const std::string& text, bool popups,
                                            Deadline deadline);

}  // namespace tavren::headless
