#pragma once

#include <string>
#include <vector>

#include "accessibility/tree_request.h"
#include "core/json.h"
#include "platform/accessibility.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tavren {

// One row to be: the element and its path ('w0.3.1', 'a2', 'p4711.0').
struct PlannedRow {
  ElementIndex element = 0;
  std::string path;
};

// Appends the rows of `root` and its descendants in depth-first pre-order, never beyond the
// row budget (the length of `rows`) or the depth limit. Children lists the snapshot has not
// read yet are read together, one level of the walk at a time, and only where the walk gets to.
void appendAXTree(AccessibilitySnapshot& snapshot, ElementIndex root, const std::string& path,
                  const TreeLimits& limits, std::vector<PlannedRow>& rows);

// Turns planned rows into tree rows: details read in one batch, values in another, and the
// value of a redacted row never read at all.
Json treeRows(AccessibilitySnapshot& snapshot, const std::vector<PlannedRow>& rows);

// "axTree": menus, pop-ups, then windows, bounded by the request's limits and optional scope.
Json nativeAXTree(const AppInfo& app, const Json& params, Accessibility& accessibility,
                  WindowServer& windowServer);

}  // namespace tavren
