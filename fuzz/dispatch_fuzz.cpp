// Every method of the catalogue, with parameters made by the fuzzer, on the in-memory desktop.
// Input: one byte choosing the method, one byte switching desktop capabilities off, then the
// parameters as JSON text (any other text is passed as a string, which reads as no parameters).
// A handler must answer with a result or an error: an escaping exception, a crash, a hang or a
// response that does not serialise as one line is a finding.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "fuzz_support.h"
#include "platform/fake/fake_desktop.h"
#include "server/dispatcher.h"
#include "server/line_writer.h"
#include "server/service.h"

using namespace tavren;

namespace {

// The catalogue, then the guarded names the catalogue may lack and a name it never has.
std::vector<std::string> methodNames() {
  std::vector<std::string> names;
  for (const MethodRow& row : methodCatalogue()) names.emplace_back(row.name);
  for (const char* extra : {"performAXAction", "postKey", "postMouse", "postScroll", "setAXValue",
                            "noSuchMethod"}) {
    names.emplace_back(extra);
  }
  return names;
}

Json fixtureWithCapabilities(uint8_t offMask) {
  Json fixture = fuzz::desktopFixture();
  const char* names[] = {"display",        "syntheticInput", "windowPixmaps",
                         "clientPids",     "inputRecording", "rawInput",
                         "displayList",    "windowManager"};
  for (int bit = 0; bit < 8; ++bit) {
    fixture["capabilities"][names[bit]] = (offMask & (1u << bit)) == 0;
  }
  // Accessibility goes with the window manager bit, so that one byte covers every capability.
  fixture["capabilities"]["accessibility"] = (offMask & 0x80u) == 0;
  return fixture;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::prepareProcess();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<std::string> names = methodNames();
  static const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (size < 2) return -1;
  const std::string& method = names[data[0] % names.size()];
  std::string_view paramsText(reinterpret_cast<const char*>(data + 2), size - 2);
  Json params = Json::parse(paramsText, nullptr, /*allow_exceptions=*/false);
  if (params.is_discarded()) params = std::string(paramsText);

  FakeDesktop desktop(fixtureWithCapabilities(data[1]));
  Service service(desktop, devNull);
  // Methods that run on the main loop (the virtual display, recording) wait for it to run.
  std::thread mainThread([&] { service.mainLoop.run(); });
  Json request = {{"id", "f"}, {"version", 1}, {"method", method}, {"params", std::move(params)}};
  Outcome outcome = [&]() -> Outcome {
    try {
      return handle(service, request);
    } catch (const std::exception& e) {
      fuzz::fail(method + " threw: " + e.what(), paramsText);
    }
  }();
  service.mainLoop.quit();
  mainThread.join();
  std::string line =
      outcome.ok() ? protocolLineText(responseObject("f", std::move(outcome).takeValue(), std::nullopt))
                   : protocolLineText(responseObject("f", std::nullopt, errorDescription(outcome.error())));
  if (std::string problem = fuzz::responseLineProblem(line); !problem.empty()) {
    fuzz::fail(method + ": " + problem + ": " + line.substr(0, 500), paramsText);
  }
  fuzz::tidyPasteboardStore();
  return 0;
}
