#pragma once

#include <string>

#include "core/json.h"
#include "platform/workspace.h"

namespace tavren {

// "id": bundle identifier, else the name, else the pid in decimal.
std::string appIdentityId(const AppInfo& app);
// "name": the name, else the bundle identifier, else the pid in decimal.
std::string appIdentityName(const AppInfo& app);
// "path": the bundle location, or empty.
inline const std::string& appIdentityPath(const AppInfo& app) { return app.bundlePath; }

}  // namespace tavren
