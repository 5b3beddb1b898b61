#pragma once

#include "core/json.h"
#include "platform/application_windows.h"
#include "platform/workspace.h"

namespace tavren {

// The application's windows as its accessibility interface sees them, with its identity and
// whether it is hidden or has ended. Never fails: unreadable fields take their defaults.
Json appWindowState(const AppInfo& app, ApplicationWindows& windows);

// Shows a hidden application again, asks each minimized window to come back, then reads the
// state at once (a window just asked may still read as minimized) and adds "restored": how many
// windows accepted the request.
Json restoreAppWindows(const AppInfo& app, ApplicationWindows& windows);

}  // namespace tavren
