#include "platform/linux/atspi/atspi_accessibility.h"

#include "platform/linux/atspi/accessible_reads.h"
#include "platform/linux/atspi/registered_apps.h"

namespace tavren::atspi {

bool AtspiAccessibility::trusted() {
  return bus_.connection() != nullptr && bus_.enabled().value_or(true);
}

std::optional<AtspiAccessibility::Reach> AtspiAccessibility::reach(int32_t pid) {
  ObjectRef<GDBusConnection> bus = bus_.connection();
  if (!bus || pid <= 0) return std::nullopt;
  if (auto reached = direct_.reachable(bus.get(), pid)) {
    return Reach{std::move(bus), std::move(reached->connection), true, reached->app.busName,
                 reached->app.path};
  }
  for (const RegisteredApp& app : registeredApps(bus.get())) {
    if (app.pid != pid) continue;
    AppConnections::Direct direct = direct_.connectionTo(bus.get(), app, bus_.address());
    return Reach{std::move(bus), std::move(direct.connection), !direct.silent, app.busName,
                 app.path};
  }
  return std::nullopt;
}

std::unique_ptr<AtspiSnapshot> AtspiAccessibility::read(int32_t pid) {
  if (ObjectRef<GDBusConnection> bus = bus_.connection()) announceClient(bus.get());
  std::optional<Reach> app = reach(pid);
  if (!app) return std::make_unique<AtspiSnapshot>(nullptr, nullptr, false, "", "");
  return std::make_unique<AtspiSnapshot>(std::move(app->bus), std::move(app->direct),
                                         app->answering, app->busName, app->rootPath,
                                         reading_ == TreeReading::Bulk);
}

WheelStandIn AtspiAccessibility::scrollInPlaceOfWheel(int32_t pid, Point windowOrigin, Point at,
                                                      std::array<int32_t, 2> clicks) {
  if (clicks[0] == 0 && clicks[1] == 0) return WheelStandIn::NotNeeded;
  std::optional<Reach> app = reach(pid);
  if (!app) return WheelStandIn::NotNeeded;
  // Most scrolls go to toolkits that take wheel events: once their toolkit is known, they cost
  // no call at all.
  const std::optional<ToolkitTraits> known = direct_.traitsOf(app->busName);
  if (known && !known->ignoresSyntheticWheel) return WheelStandIn::NotNeeded;
  AppLink link{app->bus.get(), app->direct.get(), app->busName, app->answering, {}};
  const WheelStandIn done = scrollUnderPoint(link, app->rootPath, windowOrigin, at, clicks);
  if (link.toolkitAnswered) direct_.rememberTraits(app->busName, link.traits);
  return done;
}

}  // namespace tavren::atspi
