#include "windows/window_methods.h"

#include "windows/app_window_state.h"
#include "windows/window_server_state.h"

namespace tavren {

Outcome appWindowsMethod(const AppInfo& app, const Json&, Service& service) {
  return appWindowState(app, service.platform.applicationWindows());
}

Outcome restoreAppWindowsMethod(const AppInfo& app, const Json&, Service& service) {
  return restoreAppWindows(app, service.platform.applicationWindows());
}

Outcome windowServerWindowsMethod(const AppInfo& app, const Json&, Service& service) {
  return windowServerState(app, service.platform.windowServer(), service.platform.workspace());
}

Outcome windowCatalogMethod(const Json&, Service& service) {
  return windowServerCatalog(service.platform.windowServer());
}

}  // namespace tavren
