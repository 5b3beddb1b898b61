#include "platform/linux/atspi/atspi_accessibility.h"

#include "platform/linux/atspi/accessible_reads.h"
#include "platform/linux/atspi/atspi_snapshot.h"
#include "platform/linux/atspi/registered_apps.h"

namespace tavren::atspi {

bool AtspiAccessibility::trusted() {
  return bus_.connection() != nullptr && bus_.enabled().value_or(true);
}

std::unique_ptr<AccessibilitySnapshot> AtspiAccessibility::snapshot(int32_t pid) {
  ObjectRef<GDBusConnection> bus = bus_.connection();
  if (!bus || pid <= 0) return std::make_unique<AtspiSnapshot>(nullptr, "", "");
  announceClient(bus.get());
  for (const RegisteredApp& app : registeredApps(bus.get())) {
    if (app.pid == pid) return std::make_unique<AtspiSnapshot>(std::move(bus), app.busName, app.path,
                                             reading_ == TreeReading::Bulk);
  }
  return std::make_unique<AtspiSnapshot>(nullptr, "", "");
}

}  // namespace tavren::atspi
