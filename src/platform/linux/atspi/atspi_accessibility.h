#pragma once

#include "platform/accessibility.h"
#include "platform/linux/atspi/accessible_scroll.h"
#include "platform/linux/atspi/app_connections.h"
#include "platform/linux/atspi/atspi_bus.h"
#include "platform/linux/atspi/atspi_snapshot.h"
#include "platform/linux/atspi/resolved_paths.h"

namespace tavren::atspi {

// How a snapshot reads an application: the toolkit's cache first, or every node on its own.
enum class TreeReading { Bulk, NodeByNode };

// Accessibility over AT-SPI, on the process's one connection to the accessibility bus and a
// direct connection to each application that offers one.
class AtspiAccessibility final : public Accessibility {
 public:
  explicit AtspiAccessibility(AtspiBus& bus, TreeReading reading = TreeReading::Bulk)
      : bus_(bus), reading_(reading) {}

  // The bus answers and accessibility is switched on.
  bool trusted() override;
  std::unique_ptr<AccessibilitySnapshot> snapshot(int32_t pid) override { return read(pid); }
  // The same snapshot, as what it is.
  std::unique_ptr<AtspiSnapshot> read(int32_t pid);
  std::unique_ptr<AccessibleElement> element(int32_t pid, PathRoot root, int64_t index,
                                             std::span<const int64_t> children) override;
  // Scrolls the application with this pid through its scroll bars where its toolkit ignores
  // synthetic wheel events (scrollUnderPoint); NotNeeded when the application cannot be reached.
  WheelStandIn scrollInPlaceOfWheel(int32_t pid, Point windowOrigin, Point at,
                                    std::array<int32_t, 2> clicks);

 private:
  // How to reach the application with this pid; none when it is not registered.
  struct Reach {
    ObjectRef<GDBusConnection> bus;
    std::shared_ptr<PeerConnection> direct;
    bool answering = true;
    std::string busName;
    std::string rootPath;
  };
  std::optional<Reach> reach(int32_t pid);

  AtspiBus& bus_;
  TreeReading reading_;
  AppConnections direct_;
  ResolvedPaths paths_;
};

}  // namespace tavren::atspi
