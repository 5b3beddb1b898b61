#include "server/ping_method.h"

#include "server/line_writer.h"

namespace tavren {

Outcome pingMethod(const Json&) {
  return Json{{"service", kServiceName},
              {"protocolVersion", kProtocolVersion},
              {"windowGuardVersion", 1},
              {"remoteDesktopInputVersion", 1},
              {"remoteDisplayVersion", 1}};
}

}  // namespace tavren
