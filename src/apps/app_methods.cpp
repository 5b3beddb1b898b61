#include "apps/app_methods.h"

#include "apps/app_identity.h"
#include "core/params.h"

namespace tavren {

Outcome listRunningAppsMethod(const Json&, Workspace& workspace) {
  Json apps = Json::array();
  for (const AppInfo& app : workspace.runningApplications()) {
    if (!app.regular) continue;
    apps.push_back({{"id", appIdentityId(app)},
                    {"name", appIdentityName(app)},
                    {"pid", app.pid},
                    {"path", appIdentityPath(app)}});
  }
  return apps;
}

Outcome appIdentityMethod(const Json& params, Workspace& workspace) {
  const double raw = number(params, "pid");
  const auto pid = truncatedInteger<int32_t>(raw);
  if (!pid) {
    return computerUseError(
        1, "INVALID_PARAMETER: pid must be a whole number from -2147483648 to 2147483647");
  }
  const auto app = *pid > 0 ? workspace.application(*pid) : std::nullopt;
  if (!app) return computerUseError(1, "No running app for pid " + std::to_string(*pid));
  return Json{{"id", appIdentityId(*app)},
              {"name", appIdentityName(*app)},
              {"path", appIdentityPath(*app)}};
}

}  // namespace tavren
