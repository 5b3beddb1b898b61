#include "platform/capabilities.h"

namespace tavren {

std::vector<std::pair<std::string, bool>> capabilityList(const Capabilities& c) {
  return {{"display", c.display},         {"syntheticInput", c.syntheticInput},
          {"windowPixmaps", c.windowPixmaps}, {"clientPids", c.clientPids},
          {"inputRecording", c.inputRecording}, {"rawInput", c.rawInput},
          {"displayList", c.displayList}, {"windowManager", c.windowManager},
          {"accessibility", c.accessibility}};
}

}  // namespace tavren
