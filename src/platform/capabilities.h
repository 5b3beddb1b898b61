#pragma once

#include <string>
#include <vector>

namespace tavren {

// Optional pieces of a desktop, probed once when the platform is created. Each may be missing;
// the service then runs with the reduced behaviour defined for it.
struct Capabilities {
  bool display = false;          // a window system is reachable at all
  bool syntheticInput = false;   // input can be injected as if from devices (XTest)
  bool windowPixmaps = false;    // covered windows keep their pixels (Composite)
  bool clientPids = false;       // the server can name the process of a client (XRes)
  bool inputRecording = false;   // device input can be observed (RECORD)
  bool rawInput = false;         // XInput2
  bool displayList = false;      // monitors can be listed (RandR)
  bool windowManager = false;    // an EWMH window manager runs
  bool accessibility = false;    // the accessibility bus is reachable and enabled
};

// Name/value pairs, for diagnostics and documentation.
std::vector<std::pair<std::string, bool>> capabilityList(const Capabilities& c);

}  // namespace tavren
