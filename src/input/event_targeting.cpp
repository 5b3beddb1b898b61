#include "input/event_targeting.h"

#include "core/params.h"
#include "windows/window_records.h"

namespace tavren {
namespace {

bool contains(const Rect& r, Point p) {
  return p.x >= r.x && p.x < r.x + r.width && p.y >= r.y && p.y < r.y + r.height;
}

EventWindow at(const TargetWindow& w) { return {w.id, {w.frame.x, w.frame.y}}; }

}  // namespace

EventWindow EventTarget::windowAt(Point point) const {
  for (const TargetWindow& w : sameProcess) {
    if (contains(w.frame, point)) return at(w);
  }
  return attached;
}

std::vector<TargetWindow> eventWindowsOf(std::span<const WindowInfo> list, int32_t pid) {
  std::vector<TargetWindow> kept;
  for (const WindowInfo& w : list) {
    if (!w.onScreen || w.ownerPid != pid || w.layer < 0 || w.number == 0) continue;
    if (!hasUsableBounds(w)) continue;
    kept.push_back({w.number, *w.bounds});
  }
  return kept;
}

std::optional<EventTarget> eventWindow(const Json& params, int32_t pid,
                                       std::span<const WindowInfo> list) {
  const auto number = truncatedInteger<uint32_t>(tavren::number(params, "windowId"));
  if (!number || *number == 0) return std::nullopt;
  for (const WindowInfo& w : list) {
    if (w.number != *number) continue;
    if (w.ownerPid != pid || !w.bounds) return std::nullopt;
    return EventTarget{{w.number, {w.bounds->x, w.bounds->y}}, eventWindowsOf(list, pid)};
  }
  return std::nullopt;
}

namespace {

// The process's main window as far as the list tells: its front-most window at the normal
// layer, else its front-most one.
std::optional<EventWindow> mainWindowOf(int32_t pid, std::span<const WindowInfo> list) {
  std::optional<EventWindow> front;
  for (const WindowInfo& w : list) {
    if (!w.onScreen || w.ownerPid != pid || w.layer < 0 || !hasUsableBounds(w)) continue;
    const EventWindow candidate{w.number, {w.bounds->x, w.bounds->y}};
    if (w.layer == 0) return candidate;
    if (!front) front = candidate;
  }
  return front;
}

}  // namespace

std::optional<EventTarget> processTarget(int32_t pid, std::span<const WindowInfo> list) {
  std::optional<EventWindow> main = mainWindowOf(pid, list);
  if (!main) return std::nullopt;
  return EventTarget{*main, eventWindowsOf(list, pid)};
}

std::optional<EventWindow> keyWindow(const Json& params, int32_t pid,
                                     std::span<const WindowInfo> list) {
  if (auto named = eventWindow(params, pid, list)) return named->attached;
  return mainWindowOf(pid, list);
}

}  // namespace tavren
