#include "accessibility/ax_tree_method.h"

#include "accessibility/tree_snapshot.h"

namespace tavren {

Outcome axTreeMethod(const AppInfo& app, const Json& params, Service& service) {
  return nativeAXTree(app, params, service.platform.accessibility(),
                      service.platform.windowServer());
}

}  // namespace tavren
