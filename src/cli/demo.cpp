#include "cli/demo.h"

#include <glib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string_view>

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
    {"captureWindow", nullptr, "the widget factory's window as a PNG"},
};

void printStep(const Step& step, const std::string& params, const Json& response) {
  std::cout << "\n== " << step.method << " " << params << "  (" << step.why << ")\n";
  std::cout << response.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
}

// The widget factory's window in a window catalog, else the first window; 0 when there is none.
uint32_t windowToCapture(const Json& catalog) {
  if (!catalog.is_array() || catalog.empty()) return 0;
  for (const Json& window : catalog) {
    if (window.value("owner", "") == "Widget Factory") return window.value("id", 0u);
  }
  return catalog.front().value("id", 0u);
}

// Writes the PNG of a captureWindow answer to `path`, and shows the answer without its data.
bool savedCapture(Json& response, const std::filesystem::path& path) {
  Json& result = response["result"];
  if (!response.value("ok", false) || !result.contains("dataBase64")) return false;
  gsize size = 0;
  guchar* png = g_base64_decode(result["dataBase64"].get<std::string>().c_str(), &size);
  std::error_code ignored;
  std::filesystem::create_directories(path.parent_path(), ignored);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png), static_cast<std::streamsize>(size));
  g_free(png);
  result["dataBase64"] =
      "(" + std::to_string(size) + " bytes of PNG, written to " + path.string() + ")";
  return static_cast<bool>(out.flush());
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
  Json catalog;
  const std::filesystem::path png = std::filesystem::absolute(outDir) / "widget-factory.png";
  for (const Step& step : kSteps) {
    const std::string id = "demo" + std::to_string(++n);
    const bool capture = std::string_view(step.method) == "captureWindow";
    const std::string params =
        capture ? Json{{"windowId", windowToCapture(catalog)}, {"guiCapture", true}}.dump()
                : step.params;
    service->send(requestLine(id, step.method, params));
    auto line = service->responseFor(id, 30s);
    if (!line) {
      std::cerr << "tavren demo: no answer to " << step.method << "\n";
      return 1;
    }
    Json response = Json::parse(*line, nullptr, false);
    if (std::string_view(step.method) == "windowCatalog") catalog = response["result"];
    const bool saved = capture && savedCapture(response, png);
    printStep(step, params, response);
    if (!response.value("ok", false) || (capture && !saved)) ++failures;
    if (saved) std::cout << "The captured window is in " << png.string() << "\n";
  }
  service->closeInput();
  service->wait(5s);
  const std::string errors = service->errorOutput();
  if (!errors.empty()) {
    std::cerr << "tavren demo: the service wrote to standard error:\n" << errors;
    ++failures;
  }
  std::cout << "\n"
            << (failures == 0 ? "Demo finished: every answer ok." : "Demo finished with failures.")
            << "\n";
  return failures == 0 ? 0 : 1;
}

}  // namespace tavren
