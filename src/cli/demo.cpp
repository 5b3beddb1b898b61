#include "cli/demo.h"

#include <cstdlib>
#include <iostream>
#include <map>

#include "cli/service_process.h"
#include "core/json.h"
#include "headless/headless_desktop.h"

namespace tavren {
namespace {

using namespace std::chrono_literals;

struct Step {
  const char* method;
  const char* params;
  const char* why;
};

// What the demo asks, in order. Each subsystem adds its step as it lands.
constexpr Step kSteps[] = {
    {"ping", "{}", "is the service there, and which protocol does it speak"},
    {"listRunningApps", "{}", "the ordinary applications on this desktop"},
    {"windowCatalog", "{}", "every usable window, front to back, with its X id and owner"},
    {"axTree", "{\"app\":\"Widget Factory\",\"maxElements\":12,\"maxDepth\":3}",
     "the first rows of the widget factory's interface, depth first, with element paths"},
};

void printStep(const Step& step, const Json& response) {
  std::cout << "\n== " << step.method << " " << step.params << "  (" << step.why << ")\n";
  std::cout << response.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}

}  // namespace

int runDemo(const std::string& serviceBinary, const std::string& outDir) {
  std::unique_ptr<headless::HeadlessDesktop> desktop;
  std::map<std::string, std::string> env;
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    std::cout << "No DISPLAY: starting a headless desktop with gtk3-widget-factory...\n";
    std::string error;
    desktop = headless::HeadlessDesktop::start(headless::DesktopOptions{}, &error);
    if (!desktop) {
      std::cerr << "tavren demo: cannot start the headless desktop: " << error << "\n";
      return 1;
    }
    const pid_t factory = desktop->launch({"gtk3-widget-factory"}, &error);
    if (factory <= 0) {
      std::cerr << "tavren demo: cannot start gtk3-widget-factory: " << error << "\n";
      return 1;
    }
    if (!desktop->waitForWindow(factory, "", 30s)) {
      std::cerr << "tavren demo: gtk3-widget-factory did not show a window\n";
      return 1;
    }
    env = desktop->environment();
    std::cout << "Desktop " << desktop->display() << " is up.\n";
  }

  std::string error;
  auto service = ServiceProcess::start({serviceBinary}, env, &error);
  if (!service) {
    std::cerr << "tavren demo: cannot start " << serviceBinary << ": " << error << "\n";
    return 1;
  }
  int failures = 0;
  int n = 0;
  for (const Step& step : kSteps) {
    const std::string id = "demo" + std::to_string(++n);
    service->send(requestLine(id, step.method, step.params));
    auto line = service->responseFor(id, 30s);
    if (!line) {
      std::cerr << "tavren demo: no answer to " << step.method << "\n";
      return 1;
    }
    Json response = Json::parse(*line, nullptr, false);
    printStep(step, response);
    if (!response.value("ok", false)) ++failures;
  }
  service->closeInput();
  service->wait(5s);
  const std::string errors = service->errorOutput();
  if (!errors.empty()) {
    std::cerr << "tavren demo: the service wrote to standard error:\n" << errors;
    ++failures;
  }
  (void)outDir;
  std::cout << "\n" << (failures == 0 ? "Demo finished: every answer ok." : "Demo finished with failures.")
            << "\n";
  return failures == 0 ? 0 : 1;
}

}  // namespace tavren
