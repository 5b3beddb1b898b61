#include "apps/app_identity.h"

namespace tavren {

std::string appIdentityId(const AppInfo& app) {
  if (!app.bundleId.empty()) return app.bundleId;
  if (!app.name.empty()) return app.name;
  return std::to_string(app.pid);
}

std::string appIdentityName(const AppInfo& app) {
  if (!app.name.empty()) return app.name;
  if (!app.bundleId.empty()) return app.bundleId;
  return std::to_string(app.pid);
}

}  // namespace tavren
