#include "windows/window_server_state.h"

#include <map>

#include "apps/app_identity.h"
#include "apps/app_resolution.h"
#include "windows/window_records.h"

namespace tavren {

Json windowServerState(const AppInfo& app, WindowServer& server, Workspace& workspace) {
  const std::string& rootPath = appIdentityPath(app);
  // One process usually owns many windows: read each owner's executable once per request.
  std::map<int32_t, std::string> paths;
  auto pathOf = [&](int32_t pid) -> const std::string& {
    auto it = paths.find(pid);
    if (it == paths.end()) it = paths.emplace(pid, workspace.executablePath(pid)).first;
    return it->second;
  };

  Json windows = Json::array();
  for (const WindowInfo& window : server.windows()) {
    if (window.ownerPid == 0 || !hasUsableBounds(window)) continue;  // 0: owner unknown
    const std::string& path = pathOf(window.ownerPid);
    if (window.ownerPid != app.pid && !appOwnsExecutablePath(rootPath, path)) continue;
    Json record = windowServerRecord(window);
    record["path"] = path;
    windows.push_back(std::move(record));
  }
  return Json{{"id", appIdentityId(app)},
              {"name", appIdentityName(app)},
              {"pid", app.pid},
              {"rootPath", rootPath},
              {"windows", std::move(windows)}};
}

Json windowServerCatalog(WindowServer& server) {
  Json catalog = Json::array();
  for (const WindowInfo& window : server.windows()) {
    if (window.number == 0 || window.ownerPid <= 0 || !hasUsableBounds(window)) continue;
    catalog.push_back(windowServerRecord(window));
  }
  return catalog;
}

}  // namespace tavren
