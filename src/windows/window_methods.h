#pragma once

#include "core/json.h"
#include "core/service.h"
#include "core/service_error.h"
#include "platform/workspace.h"

namespace tavren {

// "appWindows": the application's windows as its accessibility interface sees them.
Outcome appWindowsMethod(const AppInfo& app, const Json& params, Service& service);
// "restoreAppWindows": unhide, un-minimize, then the same state plus "restored".
Outcome restoreAppWindowsMethod(const AppInfo& app, const Json& params, Service& service);
// "windowServerWindows": the application's windows as the window server lists them.
Outcome windowServerWindowsMethod(const AppInfo& app, const Json& params, Service& service);
// "windowCatalog": every usable window of the desktop, as an array.
Outcome windowCatalogMethod(const Json& params, Service& service);

}  // namespace tavren
