#include "platform/linux/windows/window_matching.h"

#include <algorithm>
#include <tuple>

namespace tavren::appwindows {

namespace {

constexpr int kSameRectangle = 4;
constexpr int kSameSize = 2;
constexpr int kSameTitle = 1;

bool sameSize(const Size& size, const std::optional<Rect>& r) {
  return r && r->width == size.width && r->height == size.height;
}

bool sameRectangle(const Point& p, const Size& size, const std::optional<Rect>& r) {
  return sameSize(size, r) && r->x == p.x && r->y == p.y;
}

int score(const AccessibleWindow& a, const ClientWindow& c) {
  int s = 0;
  if (a.size) {
    if (a.position && (sameRectangle(*a.position, *a.size, c.bounds) ||
                       sameRectangle(*a.position, *a.size, c.frame))) {
      s += kSameRectangle;
    } else if (sameSize(*a.size, c.bounds) || sameSize(*a.size, c.frame)) {
      s += kSameSize;
    }
  }
  if (!a.name.empty() && a.name == c.title) s += kSameTitle;
  return s;
}

}  // namespace

Rect withFrameExtents(const Rect& client, uint32_t left, uint32_t right, uint32_t top,
                      uint32_t bottom) {
  return Rect{client.x - left, client.y - top, client.width + left + right,
              client.height + top + bottom};
}

std::vector<std::optional<size_t>> matchAccessibleWindows(std::span<const AccessibleWindow> windows,
                                                          std::span<const ClientWindow> clients) {
  // Best pairs first; among equals, accessible order then window-list order, so the answer does
  // not depend on anything but the two lists.
  std::vector<std::tuple<int, size_t, size_t>> pairs;
  for (size_t a = 0; a < windows.size(); ++a) {
    for (size_t c = 0; c < clients.size(); ++c) {
      if (int s = score(windows[a], clients[c]); s > 0) pairs.emplace_back(-s, a, c);
    }
  }
  std::sort(pairs.begin(), pairs.end());
  std::vector<std::optional<size_t>> match(windows.size());
  std::vector<bool> taken(clients.size(), false);
  for (const auto& [negScore, a, c] : pairs) {
    if (match[a] || taken[c]) continue;
    match[a] = c;
    taken[c] = true;
  }
  const auto freeWindows = std::count(match.begin(), match.end(), std::nullopt);
  const auto freeClients = std::count(taken.begin(), taken.end(), false);
  if (freeWindows == 1 && freeClients == 1) {
    auto a = std::find(match.begin(), match.end(), std::nullopt) - match.begin();
    auto c = std::find(taken.begin(), taken.end(), false) - taken.begin();
    match[a] = static_cast<size_t>(c);
  }
  return match;
}

std::vector<PairedWindow> pairedWindows(std::span<const AccessibleWindow> windows,
                                        std::span<const ClientWindow> clients) {
  std::vector<std::optional<size_t>> match = matchAccessibleWindows(windows, clients);
  std::vector<PairedWindow> paired;
  paired.reserve(windows.size());
  bool focusSeen = false;
  for (size_t i = 0; i < windows.size(); ++i) {
    const AccessibleWindow& a = windows[i];
    PairedWindow p;
    p.record.title = a.name;
    p.record.role = protocolWindowRole(a.role, a.states);
    p.record.minimized = a.has(ATSPI_STATE_ICONIFIED);
    p.record.focused = !focusSeen && a.has(ATSPI_STATE_ACTIVE);
    focusSeen = focusSeen || p.record.focused;
    p.record.position = a.position;
    p.record.size = a.size;
    if (match[i]) {
      const ClientWindow& c = clients[*match[i]];
      p.xWindow = c.id;
      if (p.record.title.empty()) p.record.title = c.title;
      p.record.minimized = c.iconic;
      if (c.bounds) {
        p.record.position = Point{c.bounds->x, c.bounds->y};
        p.record.size = Size{c.bounds->width, c.bounds->height};
      }
    }
    paired.push_back(std::move(p));
  }
  return paired;
}

bool everyWindowMinimized(std::span<const ClientWindow> clients) {
  bool any = false;
  for (const ClientWindow& c : clients) {
    if (!c.managed) continue;
    if (!c.iconic) return false;
    any = true;
  }
  return any;
}

}  // namespace tavren::appwindows
