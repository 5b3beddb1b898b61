#pragma once

#include <string>

namespace tavren {

// Shows the service at work on a desktop: this one when DISPLAY is set, otherwise a headless
// desktop of its own with gtk3-widget-factory. Prints what it asks and what it gets; files it
// writes go under `outDir`. Returns the process exit status.
int runDemo(const std::string& serviceBinary, const std::string& outDir);

}  // namespace tavren
