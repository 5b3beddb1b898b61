#include "core/core_methods.h"

#include "apps/app_identity.h"
#include "core/params.h"

namespace tavren {

Outcome pingMethod(const Json&, Service&) {
  return Json{{"service", kServiceName},
              {"protocolVersion", kProtocolVersion},
              {"windowGuardVersion", 1},
              {"remoteDesktopInputVersion", 1},
              {"remoteDisplayVersion", 1}};
}

Outcome listRunningAppsMethod(const Json&, Service& service) {
  Json apps = Json::array();
  for (const AppInfo& app : service.platform.workspace().runningApplications()) {
    if (!app.regular) continue;
    apps.push_back({{"id", appIdentityId(app)},
                    {"name", appIdentityName(app)},
                    {"pid", app.pid},
                    {"path", appIdentityPath(app)}});
  }
  return apps;
}

Outcome appIdentityMethod(const Json& params, Service& service) {
  const double raw = number(params, "pid");
  const auto pid = truncatedInteger<int32_t>(raw);
  if (!pid) {
    return computerUseError(
        1, "INVALID_PARAMETER: pid must be a whole number from -2147483648 to 2147483647");
  }
  const auto app = *pid > 0 ? service.platform.workspace().application(*pid) : std::nullopt;
  if (!app) return computerUseError(1, "No running app for pid " + std::to_string(*pid));
  return Json{{"id", appIdentityId(*app)},
              {"name", appIdentityName(*app)},
              {"path", appIdentityPath(*app)}};
}

}  // namespace tavren
