#include "platform/linux/atspi/accessible_scroll.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

#include "platform/linux/atspi/atspi_names.h"
#include "platform/linux/atspi/atspi_roles.h"

namespace tavren::atspi {
namespace {

// Deeper than any widget tree met; a parent chain that loops ends here too.
constexpr size_t kMostAncestors = 32;
// A scroll area has a handful of children (viewport, bar containers, corner): a longer list is
// read that far only.
constexpr size_t kMostChildren = 256;

int32_t whole(double v) {
  return static_cast<int32_t>(std::clamp(std::round(v), -1e9, 1e9));
}

std::optional<std::array<int32_t, 4>> extentsIn(const VariantRef& reply) {
  if (!reply) return std::nullopt;
  std::array<int32_t, 4> e{};
  g_variant_get(reply.get(), "((iiii))", &e[0], &e[1], &e[2], &e[3]);
  return e;
}

bool holds(const std::array<int32_t, 4>& e, Point p) {
  return p.x >= e[0] && p.y >= e[1] && p.x < double(e[0]) + e[2] && p.y < double(e[1]) + e[3];
}

std::optional<AccessibleRef> refIn(const VariantRef& reply, bool property) {
  if (!reply) return std::nullopt;
  VariantRef ref =
      property ? propertyValue(reply) : VariantRef(g_variant_get_child_value(reply.get(), 0));
  if (!ref || !g_variant_is_of_type(ref.get(), G_VARIANT_TYPE("(so)"))) return std::nullopt;
  const gchar* bus = nullptr;
  const gchar* path = nullptr;
  g_variant_get(ref.get(), "(&s&o)", &bus, &path);
  if (std::string_view(path) == spi::kNullPath) return std::nullopt;
  return AccessibleRef{bus, path};
}

// The application's window that holds the point, the one whose corner is nearest the X
// window's when several overlap.
std::optional<AccessibleRef> windowAt(AppLink& link, const std::vector<AccessibleRef>& windows,
                                      Point origin, Point at) {
  std::vector<DbusCall> calls;
  for (const AccessibleRef& w : windows) {
    calls.push_back(accessibleCall(w, spi::kComponent, "GetExtents",
                                   g_variant_new("(u)", uint32_t{ATSPI_COORD_TYPE_SCREEN}),
                                   "((iiii))"));
  }
  const std::vector<VariantRef> replies = callApp(link, std::move(calls));
  std::optional<AccessibleRef> best;
  double nearest = std::numeric_limits<double>::infinity();
  for (size_t i = 0; i < windows.size(); ++i) {
    const auto e = extentsIn(replies[i]);
    if (!e || !holds(*e, at)) continue;
    const double d = std::fabs(e->at(0) - origin.x) + std::fabs(e->at(1) - origin.y);
    if (d < nearest) {
      nearest = d;
      best = windows[i];
    }
  }
  return best;
}

// The deepest accessible at the point, then its ancestors up to the window, innermost first.
std::vector<AccessibleRef> chainAt(AppLink& link, const AccessibleRef& window, Point at) {
  std::vector<DbusCall> hit;
  hit.push_back(accessibleCall(
      window, spi::kComponent, "GetAccessibleAtPoint",
      g_variant_new("(iiu)", whole(at.x), whole(at.y), uint32_t{ATSPI_COORD_TYPE_SCREEN}),
      "((so))"));
  std::vector<AccessibleRef> chain;
  if (auto found = refIn(callApp(link, std::move(hit))[0], false)) chain.push_back(*found);
  while (!chain.empty() && chain.back() != window && chain.size() < kMostAncestors) {
    std::vector<DbusCall> up;
    up.push_back(propertyGet(chain.back().bus, chain.back().path, spi::kAccessible, "Parent"));
    const auto parent = refIn(callApp(link, std::move(up))[0], true);
    if (!parent || std::find(chain.begin(), chain.end(), *parent) != chain.end()) break;
    chain.push_back(*parent);
  }
  if (chain.empty() || chain.back() != window) chain.push_back(window);
  return chain;
}

// The children of each node, read as nodes; none below nodes that manage their descendants
// (their children are cells, made on request).
std::vector<std::vector<AccessibleNode>> childrenOf(AppLink& link,
                                                    const std::vector<AccessibleNode>& nodes) {
  std::vector<const AccessibleNode*> listed;
  std::vector<size_t> at;
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (!nodes[i].read || hasState(nodes[i].states, ATSPI_STATE_MANAGES_DESCENDANTS)) continue;
    listed.push_back(&nodes[i]);
    at.push_back(i);
  }
  const auto lists = readChildLists(link, listed, kMostChildren);
  std::vector<AccessibleRef> all;
  std::vector<size_t> owner;
  for (size_t k = 0; k < lists.size(); ++k) {
    if (!lists[k]) continue;
    for (const AccessibleRef& ref : *lists[k]) {
      all.push_back(ref);
      owner.push_back(at[k]);
    }
  }
  std::vector<AccessibleNode> read = readNodes(link, all);
  std::vector<std::vector<AccessibleNode>> children(nodes.size());
  for (size_t k = 0; k < read.size(); ++k) children[owner[k]].push_back(std::move(read[k]));
  return children;
}

bool usableBar(const AccessibleNode& n) {
  return n.read && n.role == ATSPI_ROLE_SCROLL_BAR && (n.interfaces & kValueInterface) &&
         hasState(n.states, ATSPI_STATE_SHOWING);
}

bool mayHoldBar(const AccessibleNode& n) {
  return n.read && (n.role == ATSPI_ROLE_FILLER || n.role == ATSPI_ROLE_PANEL) &&
         hasState(n.states, ATSPI_STATE_SHOWING);
}

}  // namespace

double scrolledValue(const ScrollBarValue& bar, int32_t clicks) {
  const double step = bar.increment > 0 ? bar.increment : 1;
  const double next = bar.current - double(clicks) * kStepsPerWheelClick * step;
  const double low = std::min(bar.minimum, bar.maximum);
  return std::clamp(next, low, std::max(bar.minimum, bar.maximum));
}

std::optional<ScrollAxis> scrollBarAxis(uint64_t states,
                                        const std::optional<std::array<int32_t, 4>>& extents) {
  if (hasState(states, ATSPI_STATE_VERTICAL)) return ScrollAxis::Vertical;
  if (hasState(states, ATSPI_STATE_HORIZONTAL)) return ScrollAxis::Horizontal;
  if (!extents || (*extents)[2] <= 0 || (*extents)[3] <= 0 || (*extents)[2] == (*extents)[3]) {
    return std::nullopt;
  }
  return (*extents)[3] > (*extents)[2] ? ScrollAxis::Vertical : ScrollAxis::Horizontal;
}

WheelStandIn scrollUnderPoint(AppLink& link, const std::string& rootPath, Point windowOrigin,
                              Point at, std::array<int32_t, 2> clicks) {
  if (clicks[0] == 0 && clicks[1] == 0) return WheelStandIn::NotNeeded;
  const RootRead root = readRoot(link, rootPath, false);  // learns the toolkit
  if (!link.traits.ignoresSyntheticWheel) return WheelStandIn::NotNeeded;
  if (!root.rootChildren) return WheelStandIn::NotScrolled;
  const std::optional<AccessibleRef> window = windowAt(link, *root.rootChildren, windowOrigin, at);
  if (!window) return WheelStandIn::NotScrolled;

  // The ancestors, their children, and the children of fillers and panels among those.
  const std::vector<AccessibleRef> chainRefs = chainAt(link, *window, at);
  const std::vector<AccessibleNode> chain = readNodes(link, chainRefs);
  const std::vector<std::vector<AccessibleNode>> children = childrenOf(link, chain);
  std::vector<AccessibleNode> holders;
  std::vector<size_t> holderOf;  // the chain element each holder is a child of
  for (size_t i = 0; i < children.size(); ++i) {
    for (const AccessibleNode& child : children[i]) {
      if (!mayHoldBar(child)) continue;
      holders.push_back(child);
      holderOf.push_back(i);
    }
  }
  const std::vector<std::vector<AccessibleNode>> held = childrenOf(link, holders);

  // Every showing scroll bar, by the chain element it belongs to, with its extents.
  struct Bar {
    AccessibleNode node;
    size_t level;
  };
  std::vector<Bar> bars;
  for (size_t i = 0; i < children.size(); ++i) {
    for (const AccessibleNode& child : children[i]) {
      if (usableBar(child)) bars.push_back({child, i});
    }
  }
  for (size_t h = 0; h < held.size(); ++h) {
    for (const AccessibleNode& child : held[h]) {
      if (usableBar(child)) bars.push_back({child, holderOf[h]});
    }
  }
  std::vector<DbusCall> extentCalls;
  for (const Bar& bar : bars) {
    extentCalls.push_back(accessibleCall(bar.node.ref, spi::kComponent, "GetExtents",
                                         g_variant_new("(u)", uint32_t{ATSPI_COORD_TYPE_SCREEN}),
                                         "((iiii))"));
  }
  const std::vector<VariantRef> extents = callApp(link, std::move(extentCalls));

  // Per axis, the bar of the innermost element that has one.
  std::array<const Bar*, 2> chosen{};
  for (size_t b = 0; b < bars.size(); ++b) {
    const std::optional<ScrollAxis> axis =
        scrollBarAxis(bars[b].node.states, extentsIn(extents[b]));
    if (!axis) continue;
    const Bar*& slot = chosen[*axis == ScrollAxis::Vertical ? 0 : 1];
    if (!slot || bars[b].level < slot->level) slot = &bars[b];
  }

  std::vector<DbusCall> reads;
  std::vector<size_t> axes;
  for (size_t a = 0; a < 2; ++a) {
    if (clicks[a] == 0 || !chosen[a]) continue;
    const AccessibleRef& ref = chosen[a]->node.ref;
    for (const char* p : {"CurrentValue", "MinimumValue", "MaximumValue", "MinimumIncrement"}) {
      reads.push_back(propertyGet(ref.bus, ref.path, spi::kValue, p));
    }
    axes.push_back(a);
  }
  if (axes.empty()) return WheelStandIn::NotScrolled;
  const std::vector<VariantRef> values = callApp(link, std::move(reads));
  std::vector<DbusCall> writes;
  for (size_t k = 0; k < axes.size(); ++k) {
    const VariantRef* r = &values[4 * k];
    const std::optional<double> current = doubleProperty(r[0]);
    if (!current) continue;
    const ScrollBarValue bar{*current, doubleProperty(r[1]).value_or(*current),
                             doubleProperty(r[2]).value_or(*current),
                             doubleProperty(r[3]).value_or(0)};
    const AccessibleRef& ref = chosen[axes[k]]->node.ref;
    writes.push_back(
        accessibleCall(ref, "org.freedesktop.DBus.Properties", "Set",
                       g_variant_new("(ssv)", spi::kValue, "CurrentValue",
                                     g_variant_new_double(scrolledValue(bar, clicks[axes[k]]))),
                       nullptr));
  }
  const std::vector<VariantRef> written = callApp(link, std::move(writes));
  const bool any = std::any_of(written.begin(), written.end(),
                               [](const VariantRef& r) { return static_cast<bool>(r); });
  return any ? WheelStandIn::Scrolled : WheelStandIn::NotScrolled;
}

}  // namespace tavren::atspi
