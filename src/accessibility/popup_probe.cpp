#include "accessibility/popup_probe.h"

#include "accessibility/attribute_readers.h"

namespace tavren {
namespace {

constexpr int kAncestorsExamined = 8;

}  // namespace

std::vector<PopupWindow> popupProbeWindows(int32_t pid, WindowServer& windowServer) {
  std::vector<PopupWindow> popups;
  for (const WindowInfo& w : windowServer.unnamedWindows()) {
    if (!w.onScreen || w.ownerPid != pid || w.layer <= 0 || !w.bounds) continue;
    if (!(w.bounds->width > 1 && w.bounds->height > 1)) continue;
    popups.push_back({w.number, *w.bounds});
  }
  return popups;
}

std::optional<ElementIndex> probeMenuRoot(AccessibilitySnapshot& snapshot, const Rect& frame) {
  const double midX = frame.x + frame.width / 2, midY = frame.y + frame.height / 2;
  const Point probes[] = {{midX, midY},
                          {midX, frame.y + 0.25 * frame.height},
                          {midX, frame.y + 0.75 * frame.height},
                          {frame.x + 0.25 * frame.width, midY},
                          {frame.x + 0.75 * frame.width, midY}};
  for (const Point& probe : probes) {
    std::optional<ElementIndex> current = snapshot.elementAt(probe, frame);
    for (int examined = 0; current && examined < kAncestorsExamined; ++examined) {
      const AccessibilityElement& element = snapshot.elements()[*current];
      if (axString(element.role) == "AXMenu") return current;
      current = element.parent;
    }
  }
  return std::nullopt;
}

}  // namespace tavren
