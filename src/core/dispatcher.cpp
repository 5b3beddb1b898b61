#include "core/dispatcher.h"

#include <algorithm>
#include <array>

#include "core/core_methods.h"

namespace tavren {
namespace {

constexpr auto kCatalogue = std::to_array<MethodRow>({
    {"appIdentity", &appIdentityMethod},
    {"listRunningApps", &listRunningAppsMethod},
    {"ping", &pingMethod},
});

static_assert(std::is_sorted(kCatalogue.begin(), kCatalogue.end(),
                             [](const MethodRow& a, const MethodRow& b) { return a.name < b.name; }),
              "the catalogue must stay sorted by name");

}  // namespace

std::span<const MethodRow> methodCatalogue() { return kCatalogue; }

const MethodRow* findMethod(std::string_view name) {
  auto it = std::lower_bound(kCatalogue.begin(), kCatalogue.end(), name,
                             [](const MethodRow& row, std::string_view n) { return row.name < n; });
  return it != kCatalogue.end() && it->name == name ? &*it : nullptr;
}

bool runsOnRemoteInputQueue(std::string_view method) { return method == "remoteDesktopInput"; }

Outcome handle(Service& service, const Json& request) {
  std::string method;
  if (auto it = request.find("method"); it != request.end() && it->is_string()) {
    method = it->get<std::string>();
  }
  static const Json kNoParams = Json::object();
  const Json* params = &kNoParams;
  if (auto it = request.find("params"); it != request.end() && it->is_object()) params = &*it;

  const MethodRow* row = findMethod(method);
  if (row == nullptr) return computerUseError(404, "Unknown method " + method);
  if (row->runOn == RunOn::MainThread) {
    return service.mainLoop.runSync([&] { return row->handler(*params, service); });
  }
  return row->handler(*params, service);
}

}  // namespace tavren
