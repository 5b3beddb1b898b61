#include "windows/app_window_state.h"

#include "apps/app_identity.h"
#include "windows/window_records.h"

namespace tavren {

Json appWindowState(const AppInfo& app, ApplicationWindows& windows) {
  Json records = Json::array();
  size_t index = 0;
  // Accessibility switched off: no windows are listed, whatever applications still answer.
  const bool trusted = windows.trusted();
  if (trusted) {
    for (const AppWindowRecord& window : windows.windows(app.pid)) {
      records.push_back(appWindowRecord(index++, window));
    }
  }
  return Json{{"trusted", trusted},
              {"id", appIdentityId(app)},
              {"name", appIdentityName(app)},
              {"pid", app.pid},
              {"hidden", windows.isHidden(app.pid)},
              {"terminated", windows.isTerminated(app.pid)},
              {"windows", std::move(records)}};
}

Json restoreAppWindows(const AppInfo& app, ApplicationWindows& windows) {
  if (windows.isHidden(app.pid)) windows.unhide(app.pid);
  int64_t restored = 0;
  const std::vector<AppWindowRecord> current = windows.windows(app.pid);
  for (size_t i = 0; i < current.size(); ++i) {
    if (current[i].minimized && windows.unminimize(app.pid, i)) ++restored;
  }
  Json state = appWindowState(app, windows);
  state["restored"] = restored;
  return state;
}

}  // namespace tavren
