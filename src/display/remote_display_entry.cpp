// The exported entry points: one manager for the process, made on first use.
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <exception>
#include <string>

#include "display/remote_display_manager.h"
#include "platform/linux/display/xvfb_displays.h"
#include "tavren_remote_display.h"

#define TAVREN_EXPORT extern "C" __attribute__((visibility("default")))

namespace tavren {
namespace {

// Never destroyed: a host thread may still call in while the process exits. The display it
// owns is ended at exit(), and by the kernel when the process dies any other way.
TavrenRemoteDisplayManager& processManager() {
  static TavrenRemoteDisplayManager* manager = [] {
    const char* display = getenv("DISPLAY");
    auto* displays = new display::XvfbDisplays(display ? display : "");
    auto* made = new TavrenRemoteDisplayManager(*displays);
    atexit([] { processManager().endOwnedDisplay(); });
    return made;
  }();
  return *manager;
}

Json paramsFrom(const char* text) {
  if (text == nullptr) return Json::object();
  Json params = Json::parse(text, nullptr, false);
  return params.is_object() ? params : Json::object();
}

char* copied(const Json& answer) {
  const std::string text = answer.dump(-1, ' ', false, Json::error_handler_t::replace);
  char* out = static_cast<char*>(malloc(text.size() + 1));
  if (out != nullptr) memcpy(out, text.c_str(), text.size() + 1);
  return out;
}

}  // namespace
}  // namespace tavren

using tavren::Json;

TAVREN_EXPORT char* TavrenRemoteDisplayStatus(void) {
  try {
    return tavren::copied(tavren::guardedDisplayStatus(tavren::processManager()));
  } catch (const std::exception&) {
    return nullptr;
  }
}

TAVREN_EXPORT char* TavrenRemoteDisplayEnsure(const char* paramsJson) {
  try {
    return tavren::copied(
        tavren::guardedDisplayEnsure(tavren::processManager(), tavren::paramsFrom(paramsJson)));
  } catch (const std::exception&) {
    return nullptr;
  }
}

TAVREN_EXPORT char* TavrenRemoteDisplayRelease(const char* paramsJson) {
  try {
    return tavren::copied(
        tavren::guardedDisplayRelease(tavren::processManager(), tavren::paramsFrom(paramsJson)));
  } catch (const std::exception&) {
    return nullptr;
  }
}

TAVREN_EXPORT void TavrenRemoteDisplayFree(char* json) { free(json); }
