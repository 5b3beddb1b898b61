#include "platform/linux/atspi/atspi_snapshot.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "platform/linux/atspi/atspi_element.h"
#include "platform/linux/atspi/atspi_roles.h"

namespace tavren::atspi {
namespace {

// Deeper than any real interface: cached parent links that loop stop here and are read
// instead, where the walk's own depth limit ends them.
constexpr int kCachedDepthLimit = 256;
// How far a hit test reads what shows on screen: deeper than real interfaces nest, and more
// children than one surface shows.
constexpr size_t kShownLevels = 64;
constexpr size_t kShownChildren = 2000;

std::string keyOf(const AccessibleRef& ref) {
  return ref.bus + '\n' + ref.path;
}

}  // namespace

AtspiSnapshot::AtspiSnapshot(ObjectRef<GDBusConnection> bus, std::shared_ptr<PeerConnection> direct,
                             bool answering, std::string busName, const std::string& rootPath,
                             bool useCache)
    : connection_(std::move(bus)), direct_(std::move(direct)) {
  link_.bus = connection_.get();
  link_.direct = direct_.get();
  link_.answering = answering;
  link_.busName = std::move(busName);
  bulk_ = useCache;
  if (!link_.bus || link_.busName.empty()) return;
  RootRead root = readRoot(link_, rootPath, useCache);
  if (root.cache) {
    cache_ = std::move(*root.cache);
    for (size_t i = 0; i < cache_.size(); ++i) {
      cacheIndex_[keyOf(cache_[i].ref)] = i;
      if (cache_[i].indexInParent >= 0) cacheChildren_[keyOf(cache_[i].parent)].push_back(i);
    }
    for (auto& [parent, kids] : cacheChildren_) {
      std::sort(kids.begin(), kids.end(), [&](size_t a, size_t b) {
        return cache_[a].indexInParent < cache_[b].indexInParent;
      });
    }
  }
  if (root.rootChildren) {
    appChildren_ = addChildren(*root.rootChildren, std::nullopt, true, 0);
  }
  // Pop-ups holding a menu are no windows: their children tell, read in one batch.
  std::vector<ElementIndex> unsure;
  for (ElementIndex e : appChildren_) {
    if (nodes_[e].read && mayHoldMenu(nodes_[e].role)) unsure.push_back(e);
  }
  readChildren(unsure, kShownChildren);
  for (ElementIndex e : appChildren_) {
    if (!isWindowRole(nodes_[e].role)) continue;
    std::vector<uint32_t> childRoles;
    if (mayHoldMenu(nodes_[e].role) && elements_[e].children) {
      for (ElementIndex c : *elements_[e].children) childRoles.push_back(nodes_[c].role);
    }
    if (!isMenuHolder(nodes_[e].role, childRoles)) windows_.push_back(e);
  }
}

std::optional<std::vector<const AccessibleNode*>> AtspiSnapshot::cachedChildren(
    const AccessibleNode& node) const {
  if (!node.read || node.childCount < 0 || hasState(node.states, ATSPI_STATE_MANAGES_DESCENDANTS)) {
    return std::nullopt;
  }
  std::vector<const AccessibleNode*> kids;
  if (auto it = cacheChildren_.find(keyOf(node.ref)); it != cacheChildren_.end()) {
    for (size_t i : it->second) kids.push_back(&cache_[i]);
  }
  if (kids.size() != static_cast<size_t>(node.childCount)) return std::nullopt;
  for (size_t i = 0; i < kids.size(); ++i) {
    if (kids[i]->indexInParent != static_cast<int32_t>(i)) return std::nullopt;
  }
  return kids;
}

ElementIndex AtspiSnapshot::add(AccessibleNode node, std::optional<ElementIndex> parent,
                                bool topLevel, int depth) {
  AccessibilityElement element;
  if (node.read) {
    const ProtocolRole role = protocolRole(node.role, node.states, topLevel);
    element.role = std::string(role.role);
    element.subrole = std::string(role.subrole);
    element.title = node.name;
    element.description = node.description;
  }
  element.parent = parent;
  if (!node.read) element.children.emplace();  // gone: nothing below it either
  const auto index = static_cast<ElementIndex>(elements_.size());
  elements_.push_back(std::move(element));
  nodes_.push_back(std::move(node));
  topLevel_.push_back(topLevel);
  depth_.push_back(depth);
  details_.emplace_back();
  if (depth < kCachedDepthLimit && !elements_[index].children) {
    if (auto kids = cachedChildren(nodes_[index])) {
      std::vector<ElementIndex> children;
      children.reserve(kids->size());
      for (const AccessibleNode* kid : *kids)
        children.push_back(add(*kid, index, false, depth + 1));
      elements_[index].children = std::move(children);
    }
  }
  return index;
}

std::vector<ElementIndex> AtspiSnapshot::addChildren(const std::vector<AccessibleRef>& refs,
                                                     std::optional<ElementIndex> parent,
                                                     bool topLevel, int depth) {
  std::vector<AccessibleRef> unknown;
  for (const AccessibleRef& ref : refs) {
    if (!cacheIndex_.contains(keyOf(ref))) unknown.push_back(ref);
  }
  std::vector<AccessibleNode> read = readNodes(link_, unknown);
  std::unordered_map<std::string, size_t> readIndex;
  for (size_t i = 0; i < read.size(); ++i) readIndex[keyOf(read[i].ref)] = i;
  std::vector<ElementIndex> children;
  children.reserve(refs.size());
  for (const AccessibleRef& ref : refs) {
    const std::string key = keyOf(ref);
    auto cached = cacheIndex_.find(key);
    const AccessibleNode& node =
        cached != cacheIndex_.end() ? cache_[cached->second] : read[readIndex[key]];
    children.push_back(add(node, parent, topLevel, depth));
  }
  return children;
}

void AtspiSnapshot::readChildren(std::span<const ElementIndex> which, size_t atMost) {
  std::vector<ElementIndex> asked;
  std::vector<const AccessibleNode*> nodes;
  for (ElementIndex e : which) {
    if (elements_[e].children) continue;
    asked.push_back(e);
    nodes.push_back(&nodes_[e]);
  }
  if (asked.empty()) return;
  auto lists = readChildLists(link_, nodes, atMost);
  // Every child list of this round is read before any element is added, so the unknown
  // children of all of them go out in one batch.
  std::vector<AccessibleRef> all;
  for (const auto& list : lists) {
    if (list) all.insert(all.end(), list->begin(), list->end());
  }
  std::vector<AccessibleRef> unknown;
  for (const AccessibleRef& ref : all) {
    if (!cacheIndex_.contains(keyOf(ref))) unknown.push_back(ref);
  }
  std::vector<AccessibleNode> read = readNodes(link_, unknown);
  // Nodes read now join the cache's index for the rest of this snapshot.
  for (AccessibleNode& node : read) {
    const std::string key = keyOf(node.ref);
    if (cacheIndex_.contains(key)) continue;
    cacheIndex_[key] = cache_.size();
    cache_.push_back(std::move(node));
  }
  for (size_t k = 0; k < asked.size(); ++k) {
    std::vector<ElementIndex> children;
    if (lists[k]) {
      for (const AccessibleRef& ref : *lists[k]) {
        children.push_back(
            add(cache_[cacheIndex_.at(keyOf(ref))], asked[k], false, depth_[asked[k]] + 1));
      }
    }
    elements_[asked[k]].children = std::move(children);
  }
}

std::vector<ElementDetails> AtspiSnapshot::details(std::span<const ElementIndex> which) {
  std::vector<ElementIndex> missing;
  std::vector<const AccessibleNode*> nodes;
  for (ElementIndex e : which) {
    if (details_[e] || !nodes_[e].read) continue;
    details_[e] = ElementDetails{};  // also marks it as asked, so duplicates go out once
    missing.push_back(e);
    nodes.push_back(&nodes_[e]);
  }
  // The labels of nameless fields and the whole windows go out in one batch; the names of labels
  // not read yet then go out with the extents and actions.
  AppBatch first, second;
  LabelReads labels;
  const std::vector<ElementIndex> nameless = namelessFields(missing);
  std::vector<const AccessibleNode*> namelessNodes;
  for (ElementIndex e : nameless) namelessNodes.push_back(&nodes_[e]);
  askLabels(first, namelessNodes, labels);
  TreeReads trees;
  askWholeWindows(first, missing, trees);
  // The numbers of actions of the nodes the whole-window reads leave out go out alongside, so
  // that all their action names can go out with the extents.
  std::vector<size_t> countAt(missing.size(), SIZE_MAX);
  if (!trees.at.empty()) {
    for (size_t k = 0; k < missing.size(); ++k) {
      if ((nodes[k]->interfaces & kActionInterface) && !wholeWindowTells(missing[k])) {
        countAt[k] = askActionCount(first, *nodes[k]);
      }
    }
  }
  first.send(link_);
  for (TreeNode& node : takeTrees(first, trees)) {
    std::string key = keyOf(node.ref);
    treeNodes_.insert_or_assign(std::move(key), std::move(node));
  }
  // A label the cache holds was read with it, in this request.
  askLabelNames(first, second, labels, [this](const AccessibleRef& ref) -> const std::string* {
    auto it = cacheIndex_.find(keyOf(ref));
    return it != cacheIndex_.end() && cache_[it->second].read ? &cache_[it->second].name : nullptr;
  });
  // What came with the node's window is not asked for again.
  std::vector<AccessibleNode> withoutExtents;
  withoutExtents.reserve(nodes.size());
  std::vector<const std::array<int32_t, 4>*> known(nodes.size(), nullptr);
  std::vector<int32_t> actionCounts(nodes.size(), -1);
  for (size_t k = 0; k < nodes.size(); ++k) {
    if (countAt[k] != SIZE_MAX) actionCounts[k] = actionCount(first, countAt[k]).value_or(-1);
    const TreeNode* told = treeNode(nodes[k]->ref);
    if (told == nullptr) continue;
    if (told->actionCount) actionCounts[k] = *told->actionCount;
    if (!told->extents || !(nodes[k]->interfaces & kComponentInterface)) continue;
    known[k] = &*told->extents;
    withoutExtents.push_back(*nodes[k]);
    withoutExtents.back().interfaces &= ~kComponentInterface;
    nodes[k] = &withoutExtents.back();
  }
  std::vector<NodeDetails> read = readDetails(link_, nodes, actionCounts, &second);
  nameFields(nameless, takeLabels(second, labels));
  for (size_t k = 0; k < missing.size(); ++k) {
    if (known[k]) read[k].extents = *known[k];
    details_[missing[k]] = elementDetails(read[k], nodes_[missing[k]], topLevel_[missing[k]]);
  }
  std::vector<ElementDetails> out;
  out.reserve(which.size());
  for (ElementIndex e : which) out.push_back(details_[e].value_or(ElementDetails{}));
  return out;
}

std::vector<AttributeValue> AtspiSnapshot::values(std::span<const ElementIndex> which) {
  std::vector<AttributeValue> out(which.size());
  std::vector<size_t> asked;
  std::vector<const AccessibleNode*> nodes;
  std::vector<const TreeNode*> known;
  for (size_t i = 0; i < which.size(); ++i) {
    const AccessibleNode& node = nodes_[which[i]];
    if (!node.read) continue;
    if (isToggleRole(node.role)) {
      // A toggle's value is its state, already known: 1 checked, 2 mixed, 0 otherwise.
      out[i] = int64_t{hasState(node.states, ATSPI_STATE_INDETERMINATE) ? 2
                       : hasState(node.states, ATSPI_STATE_CHECKED)     ? 1
                                                                        : 0};
      continue;
    }
    asked.push_back(i);
    nodes.push_back(&node);
    known.push_back(treeNode(node.ref));
  }
  std::vector<NodeValue> read = readValues(link_, nodes, known);
  for (size_t k = 0; k < asked.size(); ++k) {
    if (read[k].text) {
      out[asked[k]] = std::move(*read[k].text);
    } else if (read[k].number) {
      out[asked[k]] = *read[k].number;
    }
  }
  return out;
}

std::unique_ptr<AccessibleElement> AtspiSnapshot::live(ElementIndex element) {
  if (element >= nodes_.size() || !nodes_[element].read) return nullptr;
  return std::make_unique<AtspiElement>(addRef(connection_.get()), direct_, link_, nodes_[element],
                                        topLevel_[element]);
}

void AtspiSnapshot::askWholeWindows(AppBatch& batch, std::span<const ElementIndex> which,
                                    TreeReads& reads) {
  // Below this many rows the calls of a node-by-node read cost less than a whole window.
  constexpr size_t kWorthWholeWindows = 64;
  if (!bulk_ || wholeWindowsRead_ || !link_.traits.treeInOneCall ||
      which.size() < kWorthWholeWindows) {
    return;
  }
  wholeWindowsRead_ = true;
  std::vector<AccessibleRef> roots;
  std::vector<ElementIndex> tops;
  for (ElementIndex e : which) {
    const ElementIndex top = topLevelOf(e);
    if (!nodes_[top].read || std::find(tops.begin(), tops.end(), top) != tops.end()) continue;
    tops.push_back(top);
    roots.push_back(nodes_[top].ref);
  }
  askTrees(batch, roots, reads);
}

const TreeNode* AtspiSnapshot::treeNode(const AccessibleRef& ref) const {
  if (treeNodes_.empty()) return nullptr;
  auto it = treeNodes_.find(keyOf(ref));
  return it != treeNodes_.end() ? &it->second : nullptr;
}

std::vector<ElementIndex> AtspiSnapshot::namelessFields(std::span<const ElementIndex> which) const {
  static constexpr std::string_view kFieldRoles[] = {"AXTextField", "AXTextArea", "AXComboBox",
                                                     "AXIncrementor"};
  std::vector<ElementIndex> nameless;
  for (ElementIndex e : which) {
    const auto* role = std::get_if<std::string>(&elements_[e].role);
    if (!nodes_[e].read || !nodes_[e].name.empty() || role == nullptr) continue;
    if (std::find(std::begin(kFieldRoles), std::end(kFieldRoles), *role) == std::end(kFieldRoles))
      continue;
    nameless.push_back(e);
  }
  return nameless;
}

void AtspiSnapshot::nameFields(std::span<const ElementIndex> nameless,
                               std::vector<NodeLabels> labels) {
  for (size_t k = 0; k < nameless.size(); ++k) {
    AccessibilityElement& element = elements_[nameless[k]];
    if (!labels[k].labelledBy.empty()) element.title = std::move(labels[k].labelledBy);
    const auto* description = std::get_if<std::string>(&element.description);
    if (!labels[k].placeholder.empty() && (description == nullptr || description->empty())) {
      element.description = std::move(labels[k].placeholder);
    }
  }
}

void AtspiSnapshot::nameWindow(ElementIndex window, std::string title) {
  if (std::find(windows_.begin(), windows_.end(), window) == windows_.end()) return;
  elements_[window].title = std::move(title);
}

bool AtspiSnapshot::wholeWindowTells(ElementIndex element) const {
  // Nothing below a node that manages its descendants (table cells). GTK's bridge leaves out
  // some more (26 nodes of gtk3-widget-factory that its cache holds under the window) that
  // nothing here tells apart: those are read as before, their number of actions with the
  // extents and any further action names in a batch of their own.
  for (auto up = elements_[element].parent; up; up = elements_[*up].parent) {
    if (hasState(nodes_[*up].states, ATSPI_STATE_MANAGES_DESCENDANTS)) return false;
  }
  return true;
}

ElementIndex AtspiSnapshot::topLevelOf(ElementIndex element) const {
  while (elements_[element].parent) element = *elements_[element].parent;
  return element;
}

std::vector<ElementIndex> AtspiSnapshot::showingUnread() const {
  std::vector<ElementIndex> unread;
  for (ElementIndex e = 0; e < elements_.size(); ++e) {
    const AccessibleNode& node = nodes_[e];
    if (!elements_[e].children && hasState(node.states, ATSPI_STATE_SHOWING) &&
        !hasState(node.states, ATSPI_STATE_MANAGES_DESCENDANTS)) {
      unread.push_back(e);
    }
  }
  return unread;
}

std::optional<ElementIndex> AtspiSnapshot::elementAt(Point point, const Rect& window) {
  // AT-SPI cannot hit-test across surfaces: a pop-up's items answer for points that the window
  // below also covers. So: among the showing elements, the deepest whose extents hold the
  // point and lie inside the pop-up window's frame.
  // Menus hang below items whose cached child lists GTK gets wrong, so what shows is read out
  // first, level by level. Lists of managed descendants (table cells) hold no pop-up: skipped.
  for (size_t level = 0; level < kShownLevels; ++level) {
    const std::vector<ElementIndex> unread = showingUnread();
    if (unread.empty()) break;
    readChildren(unread, kShownChildren);
  }
  std::vector<ElementIndex> showing;
  for (ElementIndex e = 0; e < elements_.size(); ++e) {
    if (nodes_[e].read && hasState(nodes_[e].states, ATSPI_STATE_SHOWING)) showing.push_back(e);
  }
  const std::vector<ElementDetails> frames = details(showing);
  constexpr double kSlack = 2;
  std::optional<ElementIndex> best;
  for (size_t k = 0; k < showing.size(); ++k) {
    const Point* at = std::get_if<Point>(&frames[k].position);
    const Size* size = std::get_if<Size>(&frames[k].size);
    if (!at || !size) continue;
    const bool holds = point.x >= at->x && point.y >= at->y && point.x < at->x + size->width &&
                       point.y < at->y + size->height;
    const bool inside = at->x >= window.x - kSlack && at->y >= window.y - kSlack &&
                        at->x + size->width <= window.x + window.width + kSlack &&
                        at->y + size->height <= window.y + window.height + kSlack;
    if (holds && inside && (!best || depth_[showing[k]] > depth_[*best])) best = showing[k];
  }
  return best;
}

}  // namespace tavren::atspi

namespace tavren::atspi {

std::optional<ElementIndex> AtspiSnapshot::focusedElement() {
  auto focused = [&](const AccessibleNode& node) {
    return node.read && hasState(node.states, ATSPI_STATE_FOCUSED);
  };
  // The toolkit's cache lists every node, but its states may be old ones: the focusable nodes'
  // states are read again, all in one batch, and the one focused now is the answer.
  if (!cache_.empty()) {
    std::vector<AccessibleRef> focusable;
    for (const AccessibleNode& node : cache_) {
      if (node.read && hasState(node.states, ATSPI_STATE_FOCUSABLE)) focusable.push_back(node.ref);
    }
    const std::vector<std::optional<uint64_t>> now = readStates(link_, focusable);
    for (size_t i = 0; i < focusable.size(); ++i) {
      if (!now[i] || !hasState(*now[i], ATSPI_STATE_FOCUSED)) continue;
      for (ElementIndex e = 0; e < nodes_.size(); ++e) {
        if (nodes_[e].ref == focusable[i]) return e;
      }
      AccessibleNode node = cache_[cacheIndex_.at(keyOf(focusable[i]))];
      node.states = *now[i];
      return add(std::move(node), std::nullopt, false, 0);
    }
    return std::nullopt;
  }
  // Otherwise what shows is read level by level until the focused element turns up.
  ElementIndex checked = 0;
  for (size_t level = 0; level <= kShownLevels; ++level) {
    for (; checked < elements_.size(); ++checked) {
      if (focused(nodes_[checked])) return checked;
    }
    const std::vector<ElementIndex> unread = showingUnread();
    if (unread.empty()) break;
    readChildren(unread, kShownChildren);
  }
  return std::nullopt;
}

}  // namespace tavren::atspi
