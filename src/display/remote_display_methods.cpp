#include "display/remote_display_methods.h"

namespace tavren {

Outcome remoteDisplayOutcome(Json object) {
  if (auto it = object.find("error"); it != object.end() && it->is_string()) {
    return ServiceError{kRemoteDisplayDomain, 1, it->get<std::string>()};
  }
  return object;
}

Outcome remoteDisplayStatusMethod(TavrenRemoteDisplayManager& manager) {
  return remoteDisplayOutcome(guardedDisplayStatus(manager));
}

Outcome remoteDisplayEnsureMethod(const Json& params, TavrenRemoteDisplayManager& manager) {
  return remoteDisplayOutcome(guardedDisplayEnsure(manager, params));
}

Outcome remoteDisplayReleaseMethod(const Json& params, TavrenRemoteDisplayManager& manager) {
  return remoteDisplayOutcome(guardedDisplayRelease(manager, params));
}

}  // namespace tavren
