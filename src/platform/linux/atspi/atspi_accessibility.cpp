#include "platform/linux/atspi/atspi_accessibility.h"

#include "platform/linux/atspi/accessible_reads.h"
#include "platform/linux/atspi/registered_apps.h"

namespace tavren::atspi {

bool AtspiAccessibility::trusted() {
  return bus_.connection() != nullptr && bus_.enabled().value_or(true);
}

std::unique_ptr<AtspiSnapshot> AtspiAccessibility::read(int32_t pid) {
  ObjectRef<GDBusConnection> bus = bus_.connection();
  if (!bus || pid <= 0) return std::make_unique<AtspiSnapshot>(nullptr, nullptr, false, "", "");
  announceClient(bus.get());
  const bool bulk = reading_ == TreeReading::Bulk;
  if (auto reached = direct_.reachable(pid)) {
    return std::make_unique<AtspiSnapshot>(std::move(bus), std::move(reached->connection), true,
                                           reached->app.busName, reached->app.path, bulk);
  }
  for (const RegisteredApp& app : registeredApps(bus.get())) {
    if (app.pid != pid) continue;
    AppConnections::Direct direct = direct_.connectionTo(bus.get(), app);
    return std::make_unique<AtspiSnapshot>(std::move(bus), std::move(direct.connection),
                                           !direct.silent, app.busName, app.path, bulk);
  }
  return std::make_unique<AtspiSnapshot>(nullptr, nullptr, false, "", "");
}

}  // namespace tavren::atspi
