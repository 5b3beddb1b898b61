#include "accessibility/tree_snapshot.h"

#include <cmath>
#include <unordered_map>

#include "accessibility/attribute_readers.h"
#include "accessibility/element_summary.h"
#include "accessibility/popup_probe.h"
#include "accessibility/sensitive_fields.h"
#include "apps/app_identity.h"

namespace tavren {
namespace {

// One pass of the walk over what the snapshot holds now. Elements whose children the walk
// reaches but the snapshot has not read are collected instead of descended into.
void planSubtree(const AccessibilitySnapshot& snapshot, ElementIndex element, size_t depth,
                 const std::string& path, const TreeLimits& limits, std::vector<PlannedRow>& rows,
                 std::vector<ElementIndex>& unread) {
  if (rows.size() >= limits.maxElements) return;
  rows.push_back({element, path});
  if (depth >= limits.maxDepth) return;
  const auto& children = snapshot.elements()[element].children;
  if (!children) {
    unread.push_back(element);
    return;
  }
  for (size_t i = 0; i < children->size(); ++i) {
    if (rows.size() >= limits.maxElements) break;
    planSubtree(snapshot, (*children)[i], depth + 1, path + "." + std::to_string(i), limits, rows,
                unread);
  }
}

// The row's label: the first non-empty of title, description and help, untrimmed and uncut.
std::string rowLabel(const AccessibilityElement& element) {
  for (const AttributeValue* candidate : {&element.title, &element.description, &element.help}) {
    std::string text = axString(*candidate);
    if (!text.empty()) return text;
  }
  return {};
}

struct Frame {
  std::optional<Point> position;
  std::optional<Size> size;
};

Frame frameOf(const ElementDetails& details) {
  return {axPoint(details.position), axSize(details.size)};
}

bool nearlySameFrame(const Rect& a, const Rect& b) {
  return std::fabs(a.x - b.x) <= 2 && std::fabs(a.y - b.y) <= 2 &&
         std::fabs(std::fabs(a.width) - std::fabs(b.width)) <= 2 &&
         std::fabs(std::fabs(a.height) - std::fabs(b.height)) <= 2;
}

// Indexes into `windows` of the one window the scope names; empty when none or several do.
std::vector<size_t> scopedWindows(AccessibilitySnapshot& snapshot,
                                  const std::vector<ElementIndex>& windows,
                                  const WindowScope& scope) {
  const std::vector<ElementDetails> details = snapshot.details(windows);
  std::vector<size_t> matches;
  for (size_t i = 0; i < windows.size(); ++i) {
    const Frame f = frameOf(details[i]);
    const Rect frame{f.position ? f.position->x : 0, f.position ? f.position->y : 0,
                     f.size ? f.size->width : 0, f.size ? f.size->height : 0};
    const std::string title = axString(snapshot.elements()[windows[i]].title);
    if (windowMatchesScope(scope, title, frame)) matches.push_back(i);
  }
  if (matches.size() != 1) matches.clear();
  return matches;
}

// Open menus the application lists among its own children, with the frames they were listed at.
void appendMenus(AccessibilitySnapshot& snapshot, const std::optional<WindowScope>& scope,
                 const TreeLimits& limits, std::vector<PlannedRow>& rows,
                 std::vector<Rect>& menuFrames) {
  const std::vector<ElementIndex> children = snapshot.applicationChildren();
  std::vector<size_t> menus;
  std::vector<ElementIndex> menuElements;
  for (size_t i = 0; i < children.size(); ++i) {
    if (axString(snapshot.elements()[children[i]].role) != "AXMenu") continue;
    menus.push_back(i);
    menuElements.push_back(children[i]);
  }
  const std::vector<ElementDetails> details = snapshot.details(menuElements);
  for (size_t k = 0; k < menus.size(); ++k) {
    const Frame f = frameOf(details[k]);
    if (!f.position || !f.size || !(f.size->width > 1 && f.size->height > 1)) continue;
    const Rect frame{f.position->x, f.position->y, f.size->width, f.size->height};
    if (scope && scope->frame && !rectanglesOverlap(frame, *scope->frame)) continue;
    menuFrames.push_back(frame);
    appendAXTree(snapshot, menuElements[k], "a" + std::to_string(menus[k]), limits, rows);
  }
}

// Pop-up menus in raised windows of their own, found by hit-testing those windows.
void appendPopups(AccessibilitySnapshot& snapshot, int32_t pid, WindowServer& windowServer,
                  const std::optional<WindowScope>& scope, const TreeLimits& limits,
                  const std::vector<Rect>& menuFrames, std::vector<PlannedRow>& rows) {
  for (const PopupWindow& popup : popupProbeWindows(pid, windowServer)) {
    if (rows.size() >= limits.maxElements) break;
    if (scope && scope->frame && !rectanglesOverlap(popup.frame, *scope->frame)) continue;
    bool listed = false;
    for (const Rect& menu : menuFrames) listed = listed || nearlySameFrame(menu, popup.frame);
    if (listed) continue;
    if (auto root = probeMenuRoot(snapshot, popup.frame)) {
      appendAXTree(snapshot, *root, "p" + std::to_string(popup.number), limits, rows);
    }
  }
}

// Whether the field is sensitive by its own role and label. The row keeps its plain label (a
// blank title wins), but a blank title must not hide a description that names a secret: the
// first non-blank text is tested as well.
bool sensitiveField(const AccessibilityElement& e) {
  const std::string role = axString(e.role), subrole = axString(e.subrole);
  return isSensitiveAXField(role, subrole, rowLabel(e)) ||
         isSensitiveAXField(role, subrole, summaryLabel(e));
}

// Whether an element's value is withheld: a sensitive field, or anything a user types into
// inside one (the entry of a combo box named "One-time code" has no label of its own).
// Memoised in `known` across the rows of one tree.
bool holdsSecret(const AccessibilitySnapshot& snapshot, ElementIndex element,
                 std::unordered_map<ElementIndex, bool>& known) {
  const auto& elements = snapshot.elements();
  if (auto it = known.find(element); it != known.end()) return it->second;
  bool secret = sensitiveField(elements[element]);
  if (!secret && isTextEntryRole(axString(elements[element].role))) {
    // Ancestors up to the window; a loop in parent links ends at the depth guard.
    std::optional<ElementIndex> up = elements[element].parent;
    for (int depth = 0; up && depth < 256 && !secret; ++depth, up = elements[*up].parent) {
      secret = sensitiveField(elements[*up]);
    }
  }
  known[element] = secret;
  return secret;
}

}  // namespace

void appendAXTree(AccessibilitySnapshot& snapshot, ElementIndex root, const std::string& path,
                  const TreeLimits& limits, std::vector<PlannedRow>& rows) {
  const size_t start = rows.size();
  // Each round reads at least one more level, so depth + 2 rounds always suffice; the bound
  // only guards against a snapshot that leaves a list unread after being asked for it.
  for (size_t round = 0; round <= limits.maxDepth + 1; ++round) {
    rows.resize(start);
    std::vector<ElementIndex> unread;
    planSubtree(snapshot, root, 0, path, limits, rows, unread);
    if (unread.empty()) return;
    snapshot.readChildren(unread, limits.maxElements);
  }
}

Json treeRows(AccessibilitySnapshot& snapshot, const std::vector<PlannedRow>& rows) {
  std::vector<ElementIndex> elements;
  elements.reserve(rows.size());
  for (const PlannedRow& row : rows) elements.push_back(row.element);
  const std::vector<ElementDetails> details = snapshot.details(elements);

  std::vector<bool> redacted(rows.size());
  std::vector<ElementIndex> readable;
  std::unordered_map<ElementIndex, bool> secretFields;
  for (size_t i = 0; i < rows.size(); ++i) {
    redacted[i] = holdsSecret(snapshot, rows[i].element, secretFields);
    if (!redacted[i]) readable.push_back(rows[i].element);
  }
  const std::vector<AttributeValue> values = snapshot.values(readable);

  Json out = Json::array();
  size_t nextValue = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const AccessibilityElement& e = snapshot.elements()[rows[i].element];
    Json row = axElementBox(details[i]);
    row["path"] = rows[i].path;
    row["role"] = axString(e.role);
    row["subrole"] = axString(e.subrole);
    row["label"] = rowLabel(e);
    row["valueRedacted"] = bool(redacted[i]);
    row["value"] = observedAXValue(redacted[i], [&] { return axScalar(values[nextValue++]); });
    row["actions"] = axActions(details[i].actions);
    out.push_back(std::move(row));
  }
  return out;
}

Json nativeAXTree(const AppInfo& app, const Json& params, Accessibility& accessibility,
                  WindowServer& windowServer) {
  const TreeLimits limits = treeLimits(params);
  // Accessibility switched off: nothing is read, whatever applications would still answer.
  const bool trusted = accessibility.trusted();
  if (!trusted) {
    return Json{{"id", appIdentityId(app)},
                {"name", appIdentityName(app)},
                {"pid", app.pid},
                {"trusted", false},
                {"scopeMatched", !windowScope(params)},  // no window to match a scope
                {"elements", Json::array()}};
  }
  const std::unique_ptr<AccessibilitySnapshot> snapshot = accessibility.snapshot(app.pid);
  const std::vector<ElementIndex> windows = snapshot->windows();
  const std::optional<WindowScope> scope = windowScope(params);

  std::vector<size_t> visit;
  if (scope) {
    visit = scopedWindows(*snapshot, windows, *scope);
  } else {
    for (size_t i = 0; i < windows.size(); ++i) visit.push_back(i);
  }
  const bool scopeMatched = !scope || !visit.empty();

  std::vector<PlannedRow> rows;
  if (scopeMatched) {
    std::vector<Rect> menuFrames;
    appendMenus(*snapshot, scope, limits, rows, menuFrames);
    appendPopups(*snapshot, app.pid, windowServer, scope, limits, menuFrames, rows);
  }
  for (size_t i : visit) {
    appendAXTree(*snapshot, windows[i], "w" + std::to_string(i), limits, rows);
    if (rows.size() >= limits.maxElements) break;
  }
  Json elements = treeRows(*snapshot, rows);
  return Json{{"id", appIdentityId(app)},
              {"name", appIdentityName(app)},
              {"pid", app.pid},
              {"trusted", trusted},
              {"scopeMatched", scopeMatched},
              {"elements", std::move(elements)}};
}

}  // namespace tavren
