#pragma once

#include "core/json.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tavren {

// The application's windows as the window server lists them, front to back: its own, and those
// of auxiliary processes whose executables lie inside its install directory ("rootPath"). Each
// record carries its owner's executable "path". Never fails; an unreadable list is empty.
Json windowServerState(const AppInfo& app, WindowServer& server, Workspace& workspace);

// Every usable window of every process, front to back, all layers and off-screen ones included:
// a JSON array of window-server records without "path". Never fails.
Json windowServerCatalog(WindowServer& server);

}  // namespace tavren
