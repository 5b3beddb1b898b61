#include "accessibility/element_actions.h"

#include <algorithm>

#include "accessibility/attribute_readers.h"
#include "accessibility/element_paths.h"
#include "accessibility/element_summary.h"
#include "core/params.h"
#include "focus/window_guard.h"

namespace tavren {
namespace {

Json status(const char* name) { return Json{{"status", name}}; }

Json errorStatus(AccessibilityError code) { return Json{{"status", "error"}, {"code", code}}; }

}  // namespace

Json performNativeAXAction(const AppInfo& app, const Json& params, Accessibility& accessibility,
                           WindowServer& windowServer) {
  const std::string path = stringParam(params, "path").value_or("");
  const std::string action = stringParam(params, "action").value_or("");
  std::unique_ptr<AccessibleElement> element =
      axElement(app, path, accessibility, windowServer);
  if (!element) return status("not-found");

  const ElementDetails before = element->details();
  const std::vector<std::string> actions = axActions(before.actions);
  if (std::find(actions.begin(), actions.end(), action) == actions.end()) {
    Json out = status("unsupported");
    out["box"] = axElementBox(before);
    return out;
  }
  if (!observedWindowMatches(params, windowServer)) return staleWindowResult();
  if (const AccessibilityError code = element->perform(action); code != 0) {
    return errorStatus(code);
  }
  Json out = status("ok");
  out["box"] = axElementBox(element->details());
  return out;
}

Json setNativeAXValue(const AppInfo& app, const Json& params, Accessibility& accessibility,
                      WindowServer& windowServer) {
  const std::string path = stringParam(params, "path").value_or("");
  const std::string value = stringParam(params, "value").value_or("");
  std::unique_ptr<AccessibleElement> element =
      axElement(app, path, accessibility, windowServer);
  if (!element) return status("not-found");
  if (!observedWindowMatches(params, windowServer)) return staleWindowResult();

  const SettableAnswer settable = element->valueSettable();
  if (settable.error != 0) {
    Json out = errorStatus(settable.error);
    out["posted"] = false;
    return out;
  }
  if (!settable.settable) return Json{{"status", "unsupported"}, {"posted", false}};
  if (!observedWindowMatches(params, windowServer)) return staleWindowResult();
  element->focus();
  if (!observedWindowMatches(params, windowServer)) return staleWindowResult();
  if (const AccessibilityError code = element->setValue(value); code != 0) {
    return errorStatus(code);
  }
  return status("ok");
}

}  // namespace tavren
